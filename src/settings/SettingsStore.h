#pragma once

#include "settings/Settings.h"

#include <QByteArray>
#include <QString>

namespace ov {

// Registry roots, by their old handle values; each root is one INI file.
enum class RegistryRoot : unsigned
{
    HKEY_CURRENT_USER = 0x80000001u,
    HKEY_LOCAL_MACHINE = 0x80000002u,
};

// Text values addressed by root, key path and value name, kept in INI files through
// QSettings. Value names match without regard to case. A user who may not write the
// machine-wide file gets a per-user overlay of it: writes go there, reads look there
// first. Writes are atomic and report failure by throwing Error.
class SettingsStore
{
public:
    struct Locations
    {
        QByteArray systemConfigFolder; // first of $XDG_CONFIG_DIRS, default /etc/xdg
        QByteArray userConfigFolder;   // $XDG_CONFIG_HOME, default ~/.config
        // False for an installed program: /etc belongs to the administrator, so every
        // user, root too, writes an overlay and the machine-wide file is only read.
        bool machineWritable = true;
    };
    static Locations defaultLocations();

    explicit SettingsStore(Locations locations = defaultLocations());

    QString ReadRegString(RegistryRoot root, const QString& keyPath, const QString& valueName,
                          const QString& defaultText = {}) const;
    void WriteRegString(RegistryRoot root, const QString& keyPath, const QString& valueName,
                        const QString& text);

    // The program's own key under HKEY_LOCAL_MACHINE; a missing value reads as "".
    QString ReadSetting(const QString& valueName) const;
    void WriteSetting(const QString& valueName, const QString& text);

    // Where the root's values are written by this user, and the machine-wide file.
    QByteArray writeFile(RegistryRoot root) const;
    QByteArray machineFile(RegistryRoot root) const;
    QByteArray overlayFile(RegistryRoot root) const;

    static const QString& programKey();

private:
    bool usesOverlay(RegistryRoot root) const;
    Locations m_locations;
};

// Fills the running copy from the store (logging and scrambling on only for an exact "1").
void LoadSettings(Settings& settings, const SettingsStore& store);

} // namespace ov
