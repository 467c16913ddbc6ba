#include "settings/SettingsStore.h"
#include "platform/Error.h"
#include "settings/OperationLog.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QDir>
#include <QLocale>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;
using namespace testing;

const RegistryRoot kMachine = RegistryRoot::HKEY_LOCAL_MACHINE;

class Store : public ::testing::Test
{
protected:
    Store() : store(locations()) {}

    SettingsStore::Locations locations() const { return {system.path(), user.path()}; }
    // A machine-wide file as an administrator (or an older version) left it.
    void writeMachineFile(const QByteArray& body)
    {
        QDir().mkpath(QString::fromUtf8(system.path()) + "/ombrevault");
        writeFile(system.path() + "/ombrevault/HKEY_LOCAL_MACHINE.ini", "[Software]\n" + body);
    }

    test::TempDir system, user;
    SettingsStore store;
};

using test::Immutable;

TEST_F(Store, DefaultsWrittenValuesNamesIgnoringCaseAndTextOnly)
{
    EXPECT_EQ(store.ReadSetting("Log"), QString());
    EXPECT_EQ(store.ReadRegString(kMachine, SettingsStore::programKey(), "Log", "dflt"), "dflt");
    Settings settings;
    LoadSettings(settings, store);
    EXPECT_FALSE(settings.LogOperations);
    EXPECT_FALSE(settings.ScrambleNames);
    EXPECT_TRUE(settings.SecurityLevel.isEmpty());
    // Reading never creates anything.
    EXPECT_FALSE(test::exists(store.machineFile(kMachine)));

    store.WriteSetting("Strenth", "3");
    EXPECT_EQ(store.ReadSetting("strenth"), "3");
    EXPECT_EQ(store.ReadSetting("STRENTH"), "3");
    // Writing under another case updates the one value, never adds a second.
    store.WriteSetting("strenth", "1");
    EXPECT_EQ(store.ReadSetting("Strenth"), "1");
    const QByteArray file = readFile(store.machineFile(kMachine));
    EXPECT_EQ(file.toLower().count("strenth="), 1) << file.constData();
    // A new store object (a restart) sees the same.
    SettingsStore again(locations());
    LoadSettings(settings, again);
    EXPECT_EQ(settings.SecurityLevel, "1");

    // Only text values count, and LoadSettings needs an exact "1".
    writeMachineFile("Tallowbrookworks\\Ombrevault4\\Log=01\n"
                     "Tallowbrookworks\\Ombrevault4\\Scramble=\"1\\0\"\n"
                     "Tallowbrookworks\\Ombrevault4\\Strenth=4\n"
                     "Tallowbrookworks\\Ombrevault4\\Other=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n");
    EXPECT_EQ(store.ReadSetting("Log"), "01");
    EXPECT_EQ(store.ReadSetting("Other"), QString()) << "a value that is no text is missing";
    // A text stored with its terminating zero reads as the text before it.
    EXPECT_EQ(store.ReadSetting("Scramble"), "1");
    LoadSettings(settings, store);
    EXPECT_FALSE(settings.LogOperations);
    EXPECT_TRUE(settings.ScrambleNames);
    EXPECT_EQ(settings.SecurityLevel, "4");
}

TEST_F(Store, AUserWhoMayNotWriteGetsAnOverlayAndTheMachineFileStaysWhole)
{
    writeMachineFile("Tallowbrookworks\\Ombrevault4\\Log=1\n"
                     "Tallowbrookworks\\Ombrevault4\\Strenth=2\n");
    const QByteArray machine = readFile(store.machineFile(kMachine));
    // The folder locked, then the file alone: replacing the file atomically needs both.
    const QByteArray locks[] = {system.path() + "/ombrevault", store.machineFile(kMachine)};
    for (int round = 0; round < 2; ++round) {
        Immutable locked(locks[round]);
        if (!locked.ok())
            GTEST_SKIP() << "cannot make a file or folder immutable here";
        const QString level = QString::number(3 + round);
        store.WriteSetting("strenth", level);
        EXPECT_EQ(store.writeFile(kMachine), store.overlayFile(kMachine));
        // Reads look in the overlay first, then in the machine-wide file.
        EXPECT_EQ(store.ReadSetting("Strenth"), level);
        EXPECT_EQ(store.ReadSetting("Log"), "1");
        EXPECT_EQ(readFile(store.machineFile(kMachine)), machine);
    }
}

TEST_F(Store, AWriteThatFailsEverywhereIsReported)
{
    Immutable lockedSystem(system.path()), lockedUser(user.path());
    if (!lockedSystem.ok() || !lockedUser.ok())
        GTEST_SKIP() << "cannot make a folder immutable here";
    EXPECT_THAT([&] { store.WriteSetting("Log", "1"); },
                Throws<Error>(Truly([&](const Error& error) {
                    return error.code() != 0 && error.path().startsWith(user.path()) &&
                           !error.message().isEmpty();
                })));
    EXPECT_EQ(store.ReadSetting("Log"), QString());
}

// An installed program leaves the file for everyone to the administrator, even for a user
// (root) who may write it: the user's own file takes the writes and is read first.
TEST_F(Store, AnInstalledProgramWritesOnlyTheUsersOwnFile)
{
    writeMachineFile(
        "Tallowbrookworks\\Ombrevault4\\Log=1\nTallowbrookworks\\Ombrevault4\\Strenth=2\n");
    const QByteArray before = readFile(store.machineFile(kMachine));
    SettingsStore::Locations installed = locations();
    installed.machineWritable = false;
    SettingsStore own(installed);
    EXPECT_EQ(own.writeFile(kMachine), own.overlayFile(kMachine));
    own.WriteSetting("Strenth", "3");
    EXPECT_EQ(own.ReadSetting("Strenth"), "3");
    EXPECT_EQ(own.ReadSetting("Log"), "1") << "what the administrator stored still counts";
    EXPECT_EQ(readFile(store.machineFile(kMachine)), before);
    EXPECT_TRUE(test::exists(own.overlayFile(kMachine)));
}

// The variables themselves are followed in the command line's tests, which depend on them.
TEST(StoreLocations, DefaultsAndRelativeFoldersSkipped)
{
    qputenv("XDG_CONFIG_DIRS", "relative:/first/dir:/second");
    EXPECT_EQ(SettingsStore::defaultLocations().systemConfigFolder, "/first/dir");
    qunsetenv("XDG_CONFIG_DIRS");
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/x");
    const SettingsStore::Locations where = SettingsStore::defaultLocations();
    EXPECT_EQ(where.userConfigFolder, "/home/x/.config");
    EXPECT_EQ(SettingsStore(where).machineFile(kMachine),
              "/etc/xdg/ombrevault/HKEY_LOCAL_MACHINE.ini");
}

TEST(OperationLog, LineFormatAndControlCharactersThatCannotForgeLines)
{
    const QDate date(2001, 1, 31);
    const QTime time(15, 4, 5);
    EXPECT_EQ(OperationLog::formatLine("/data/old.doc Deleted via ratio 2", date, time),
              "[" + OperationLog::dateText(date).toUtf8() + " - " +
                  OperationLog::timeText(time).toUtf8() +
                  "] : /data/old.doc Deleted via ratio 2\r\n");
    // The time carries seconds and no zone.
    EXPECT_TRUE(OperationLog::timeText(time).contains("05"));
    EXPECT_FALSE(OperationLog::timeText(time).contains("UTC"));
    EXPECT_EQ(OperationLog::dateText(date), QLocale::system().toString(date, QLocale::ShortFormat));

    const QByteArray line = OperationLog::formatLine(
        "/tmp/evil\r\n[1/1/2001 - 1:00:00] : /etc/passwd Deleted via ratio 3\x1b\x7f", date, time);
    EXPECT_EQ(line.count('\n'), 1);
    EXPECT_EQ(line.count('\r'), 1);
    EXPECT_TRUE(line.endsWith("/etc/passwd Deleted via ratio 3??\r\n")) << line.constData();
    EXPECT_TRUE(line.contains("/tmp/evil??[1/1/2001"));
}

TEST(OperationLog, AppendsWholeLinesMakesTheFileAgainAndRefusesWhatIsNoFile)
{
    test::TempDir dir;
    OperationLog log(dir.file("sub/folder/log.txt"));
    log.AppendLog("first");
    EXPECT_TRUE(readFile(log.path()).endsWith("] : first\r\n"));
    writeFile(log.path(), "an older line\r\n");
    log.AppendLog("second");
    log.AppendLog("third");
    const QList<QByteArray> lines = readFile(log.path()).split('\n');
    ASSERT_EQ(lines.size(), 4); // the last piece after the final LF is empty
    EXPECT_EQ(lines[0], "an older line\r");
    EXPECT_TRUE(lines[1].startsWith('[') && lines[1].endsWith("] : second\r"));
    EXPECT_TRUE(lines[2].endsWith("] : third\r"));
    // Deleted meanwhile: made again.
    ASSERT_EQ(::unlink(log.path().constData()), 0);
    log.AppendLog("fourth");
    EXPECT_TRUE(readFile(log.path()).endsWith("] : fourth\r\n"));
    EXPECT_EQ(readFile(log.path()).count('\n'), 1);

    // Below a file, or a link in its place: refused.
    writeFile(dir.file("blocker"), "a file, not a folder");
    OperationLog blocked(dir.file("blocker") + "/log.txt");
    EXPECT_THAT([&] { blocked.AppendLog("x"); },
                Throws<Error>(AllOf(Property(&Error::code, ENOTDIR),
                                    Property(&Error::path, blocked.path()))));
    ASSERT_EQ(::symlink(dir.file("blocker").constData(), dir.file("log.txt").constData()), 0);
    EXPECT_THROW(OperationLog(dir.file("log.txt")).AppendLog("x"), Error);
    EXPECT_EQ(readFile(dir.file("blocker")), "a file, not a folder");
    // A FIFO in its place would block the run for ever: refused at once.
    ASSERT_EQ(::mkfifo(dir.file("fifo.txt").constData(), 0644), 0);
    EXPECT_THROW(OperationLog(dir.file("fifo.txt")).AppendLog("x"), Error);

    // It lists what was destroyed: for its owner only.
    struct stat st = {};
    ASSERT_EQ(::stat(log.path().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
} // namespace ov
