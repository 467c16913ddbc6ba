#include "settings/SettingsStore.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <optional>

namespace ov {

namespace {

const char kFolder[] = "ombrevault";

QByteArray rootFileName(RegistryRoot root)
{
    switch (root) {
    case RegistryRoot::HKEY_CURRENT_USER:
        return "HKEY_CURRENT_USER.ini";
    case RegistryRoot::HKEY_LOCAL_MACHINE:
        break;
    }
    return "HKEY_LOCAL_MACHINE.ini";
}

// "Software\Tallowbrookworks\Ombrevault4\" becomes the QSettings group
// "Software/Tallowbrookworks/Ombrevault4".
QString groupOf(const QString& keyPath)
{
    QString group = keyPath;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (group.startsWith(QLatin1Char('/')))
        group.remove(0, 1);
    while (group.endsWith(QLatin1Char('/')))
        group.chop(1);
    return group;
}

// The stored name that matches valueName without regard to case, if any.
QString matchingKey(QSettings& file, const QString& valueName)
{
    const QStringList keys = file.childKeys();
    for (const QString& key : keys) {
        if (key.compare(valueName, Qt::CaseInsensitive) == 0)
            return key;
    }
    return {};
}

// The value as text, or nothing when it is missing or not a plain text.
std::optional<QString> readText(const QByteArray& path, const QString& group,
                                const QString& valueName)
{
    if (!QFileInfo::exists(QFile::decodeName(path)))
        return std::nullopt;
    QSettings file(QFile::decodeName(path), QSettings::IniFormat);
    file.beginGroup(group);
    QString key = matchingKey(file, valueName);
    if (key.isEmpty())
        return std::nullopt;
    QVariant value = file.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    QString text = value.toString();
    // A text stored with its terminating zero reads as the text before it.
    qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

// The file's folder, or the nearest folder above it that exists (where writing would
// have to create the rest); nothing when none does.
std::optional<QByteArray> nearestExistingFolder(const QByteArray& file)
{
    QDir dir = QFileInfo(QFile::decodeName(file)).absoluteDir();
    while (!dir.exists()) {
        if (!dir.cdUp())
            return std::nullopt;
    }
    return QFile::encodeName(dir.absolutePath());
}

// Whether this user can replace the file (or create it and its folders).
bool mayWrite(const QByteArray& file)
{
    const std::optional<QByteArray> folder = nearestExistingFolder(file);
    if (!folder || !folderWritable(*folder))
        return false;
    return !QFileInfo::exists(QFile::decodeName(file)) || fs::writeAccessFailure(file) == 0;
}

// Why the file cannot be written, as an errno value.
int writeFailureCode(const QByteArray& file)
{
    const std::optional<QByteArray> folder = nearestExistingFolder(file);
    if (!folder)
        return ENOENT;
    if (const int failure = fs::writeAccessFailure(*folder))
        return failure;
    if (QFileInfo::exists(QFile::decodeName(file)))
        if (const int failure = fs::writeAccessFailure(file))
            return failure;
    return EIO;
}

} // namespace

SettingsStore::Locations SettingsStore::defaultLocations()
{
    Locations locations;
    QByteArray dirs = qgetenv("XDG_CONFIG_DIRS");
    for (const QByteArray& dir : dirs.split(':')) {
        if (dir.startsWith('/')) {
            locations.systemConfigFolder = dir;
            break;
        }
    }
    if (locations.systemConfigFolder.isEmpty())
        locations.systemConfigFolder = "/etc/xdg";
    locations.userConfigFolder = xdgFolder("XDG_CONFIG_HOME", ".config");
    locations.machineWritable = !runsInstalled();
    return locations;
}

SettingsStore::SettingsStore(Locations locations) : m_locations(std::move(locations)) {}

const QString& SettingsStore::programKey()
{
    static const QString key = QStringLiteral("Software\\Tallowbrookworks\\Ombrevault4\\");
    return key;
}

QByteArray SettingsStore::machineFile(RegistryRoot root) const
{
    return joinPath(joinPath(m_locations.systemConfigFolder, kFolder), rootFileName(root));
}

QByteArray SettingsStore::overlayFile(RegistryRoot root) const
{
    return joinPath(joinPath(m_locations.userConfigFolder, kFolder), rootFileName(root));
}

bool SettingsStore::usesOverlay(RegistryRoot root) const
{
    if (root == RegistryRoot::HKEY_CURRENT_USER)
        return false;
    return !m_locations.machineWritable || !mayWrite(machineFile(root));
}

QByteArray SettingsStore::writeFile(RegistryRoot root) const
{
    if (root == RegistryRoot::HKEY_CURRENT_USER)
        return overlayFile(root);
    return usesOverlay(root) ? overlayFile(root) : machineFile(root);
}

QString SettingsStore::ReadRegString(RegistryRoot root, const QString& keyPath,
                                     const QString& valueName, const QString& defaultText) const
{
    const QString group = groupOf(keyPath);
    if (root == RegistryRoot::HKEY_CURRENT_USER)
        return readText(overlayFile(root), group, valueName).value_or(defaultText);
    if (usesOverlay(root)) {
        if (auto text = readText(overlayFile(root), group, valueName))
            return *text;
    }
    return readText(machineFile(root), group, valueName).value_or(defaultText);
}

void SettingsStore::WriteRegString(RegistryRoot root, const QString& keyPath,
                                   const QString& valueName, const QString& text)
{
    const QByteArray path = writeFile(root);
    const QString folder = QFileInfo(QFile::decodeName(path)).absolutePath();
    if (!QDir().mkpath(folder))
        throw Error::fromErrno(writeFailureCode(path), path);
    QSettings file(QFile::decodeName(path), QSettings::IniFormat);
    file.setAtomicSyncRequired(true);
    file.beginGroup(groupOf(keyPath));
    QString key = matchingKey(file, valueName);
    file.setValue(key.isEmpty() ? valueName : key, text);
    file.endGroup();
    file.sync();
    if (file.status() != QSettings::NoError)
        throw Error::fromErrno(writeFailureCode(path), path);
}

QString SettingsStore::ReadSetting(const QString& valueName) const
{
    return ReadRegString(RegistryRoot::HKEY_LOCAL_MACHINE, programKey(), valueName);
}

void SettingsStore::WriteSetting(const QString& valueName, const QString& text)
{
    WriteRegString(RegistryRoot::HKEY_LOCAL_MACHINE, programKey(), valueName, text);
}

void LoadSettings(Settings& settings, const SettingsStore& store)
{
    if (store.ReadSetting(QStringLiteral("Log")) == QLatin1String("1"))
        settings.LogOperations = true;
    settings.SecurityLevel = store.ReadSetting(QStringLiteral("Strenth"));
    if (store.ReadSetting(QStringLiteral("Scramble")) == QLatin1String("1"))
        settings.ScrambleNames = true;
}

} // namespace ov
