#include "settings/SettingsStore.h"
#include "platform/Error.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

class Store : public ::testing::Test
{
protected:
    Store() : store(locations()) {}

    SettingsStore::Locations locations() const { return {system.path(), user.path()}; }
    // A machine-wide file as an administrator (or an older version) left it.
    void writeMachineFile(const QByteArray& body)
    {
        QDir().mkpath(QString::fromUtf8(system.path()) + "/ombrevault");
        writeFile(system.path() + "/ombrevault/HKEY_LOCAL_MACHINE.ini", body);
    }

    test::TempDir system;
    test::TempDir user;
    SettingsStore store;
};

TEST_F(Store, NothingStoredReadsAsDefaults)
{
    EXPECT_EQ(store.ReadSetting(QStringLiteral("Log")), QString());
    EXPECT_EQ(store.ReadRegString(RegistryRoot::HKEY_LOCAL_MACHINE, SettingsStore::programKey(),
                                  QStringLiteral("Log"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    Settings settings;
    LoadSettings(settings, store);
    EXPECT_FALSE(settings.LogOperations);
    EXPECT_FALSE(settings.ScrambleNames);
    EXPECT_TRUE(settings.SecurityLevel.isEmpty());
    // Reading never creates anything.
    EXPECT_FALSE(test::exists(store.machineFile(RegistryRoot::HKEY_LOCAL_MACHINE)));
}

TEST_F(Store, WrittenValuesComeBackAndNamesIgnoreCase)
{
    store.WriteSetting(QStringLiteral("Strenth"), QStringLiteral("3"));
    EXPECT_EQ(store.ReadSetting(QStringLiteral("strenth")), QStringLiteral("3"));
    EXPECT_EQ(store.ReadSetting(QStringLiteral("STRENTH")), QStringLiteral("3"));
    // Writing under another case updates the one value, never adds a second.
    store.WriteSetting(QStringLiteral("strenth"), QStringLiteral("1"));
    EXPECT_EQ(store.ReadSetting(QStringLiteral("Strenth")), QStringLiteral("1"));
    const QByteArray file = readFile(store.machineFile(RegistryRoot::HKEY_LOCAL_MACHINE));
    EXPECT_EQ(file.toLower().count("strenth="), 1) << file.constData();
    // A new store object (a restart) sees the same.
    SettingsStore again(locations());
    Settings settings;
    LoadSettings(settings, again);
    EXPECT_EQ(settings.SecurityLevel, QStringLiteral("1"));
}

TEST_F(Store, LoadSettingsNeedsAnExactOne)
{
    writeMachineFile("[Software]\nTallowbrookworks\\Ombrevault4\\Log=01\n"
                     "Tallowbrookworks\\Ombrevault4\\Scramble=1\n"
                     "Tallowbrookworks\\Ombrevault4\\Strenth=4\n");
    ASSERT_EQ(store.ReadSetting(QStringLiteral("Log")), QStringLiteral("01"));
    Settings settings;
    LoadSettings(settings, store);
    EXPECT_FALSE(settings.LogOperations);
    EXPECT_TRUE(settings.ScrambleNames);
    EXPECT_EQ(settings.SecurityLevel, QStringLiteral("4"));
}

TEST_F(Store, ValuesThatAreNotTextReadAsMissing)
{
    writeMachineFile(
        "[Software]\nTallowbrookworks\\Ombrevault4\\Log=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n"
        "Tallowbrookworks\\Ombrevault4\\Scramble=\"1\\0\"\n");
    EXPECT_EQ(store.ReadSetting(QStringLiteral("Log")), QString());
    // A text stored with its terminating zero reads as the text before it.
    EXPECT_EQ(store.ReadSetting(QStringLiteral("Scramble")), QStringLiteral("1"));
}

// Makes a folder unwritable even for root: immutable on ext4, else a read-only mount.
class Unwritable
{
public:
    explicit Unwritable(const QByteArray& folder) : m_folder(folder)
    {
        m_ok = test::runTool(QStringLiteral("chattr"),
                             {QStringLiteral("+i"), QString::fromUtf8(folder)});
    }
    ~Unwritable()
    {
        if (m_ok)
            test::runTool(QStringLiteral("chattr"),
                          {QStringLiteral("-i"), QString::fromUtf8(m_folder)});
    }
    bool ok() const { return m_ok; }

private:
    QByteArray m_folder;
    bool m_ok = false;
};

TEST_F(Store, AUserWhoMayNotWriteGetsAnOverlay)
{
    writeMachineFile("[Software]\nTallowbrookworks\\Ombrevault4\\Log=1\n"
                     "Tallowbrookworks\\Ombrevault4\\Strenth=2\n");
    const QByteArray machine = readFile(store.machineFile(RegistryRoot::HKEY_LOCAL_MACHINE));
    Unwritable locked(system.path() + "/ombrevault");
    if (!locked.ok())
        GTEST_SKIP() << "cannot make a folder immutable here";
    store.WriteSetting(QStringLiteral("strenth"), QStringLiteral("3"));
    EXPECT_EQ(store.writeFile(RegistryRoot::HKEY_LOCAL_MACHINE),
              store.overlayFile(RegistryRoot::HKEY_LOCAL_MACHINE));
    // Reads look in the overlay first, then in the machine-wide file.
    EXPECT_EQ(store.ReadSetting(QStringLiteral("Strenth")), QStringLiteral("3"));
    EXPECT_EQ(store.ReadSetting(QStringLiteral("Log")), QStringLiteral("1"));
    EXPECT_EQ(readFile(store.machineFile(RegistryRoot::HKEY_LOCAL_MACHINE)), machine);
}

TEST_F(Store, AWriteThatFailsEverywhereIsReported)
{
    Unwritable lockedSystem(system.path());
    Unwritable lockedUser(user.path());
    if (!lockedSystem.ok() || !lockedUser.ok())
        GTEST_SKIP() << "cannot make a folder immutable here";
    try {
        store.WriteSetting(QStringLiteral("Log"), QStringLiteral("1"));
        ADD_FAILURE() << "a failed write was reported as success";
    } catch (const Error& error) {
        EXPECT_NE(error.code(), 0);
        EXPECT_TRUE(error.path().startsWith(user.path())) << error.path().constData();
        EXPECT_FALSE(error.message().isEmpty());
    }
    EXPECT_EQ(store.ReadSetting(QStringLiteral("Log")), QString());
}

TEST_F(Store, AFailedWriteLeavesTheOldFileWhole)
{
    store.WriteSetting(QStringLiteral("Log"), QStringLiteral("1"));
    const QByteArray file = store.machineFile(RegistryRoot::HKEY_LOCAL_MACHINE);
    const QByteArray before = readFile(file);
    // The folder is locked and the file too: the user overlay takes the write, and the
    // machine-wide file is not half-replaced.
    Unwritable lockedFile(file);
    if (!lockedFile.ok())
        GTEST_SKIP() << "cannot make a file immutable here";
    store.WriteSetting(QStringLiteral("Log"), QStringLiteral("0"));
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(store.ReadSetting(QStringLiteral("Log")), QStringLiteral("0"));
}

TEST(StoreLocations, FollowTheXdgVariables)
{
    qputenv("XDG_CONFIG_DIRS", "relative:/first/dir:/second");
    qputenv("XDG_CONFIG_HOME", "/home/someone/conf");
    SettingsStore::Locations where = SettingsStore::defaultLocations();
    EXPECT_EQ(where.systemConfigFolder, "/first/dir");
    EXPECT_EQ(where.userConfigFolder, "/home/someone/conf");
    qunsetenv("XDG_CONFIG_DIRS");
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/x");
    where = SettingsStore::defaultLocations();
    EXPECT_EQ(where.systemConfigFolder, "/etc/xdg");
    EXPECT_EQ(where.userConfigFolder, "/home/x/.config");
    SettingsStore store(where);
    EXPECT_EQ(store.machineFile(RegistryRoot::HKEY_LOCAL_MACHINE),
              "/etc/xdg/ombrevault/HKEY_LOCAL_MACHINE.ini");
}

} // namespace
} // namespace ov
