// ombrevault-cli run as a user would run it, with a settings store of the test's own.
#include "support/TempDir.h"
#include "support/Tmpfs.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace ov {
namespace {

using test::exists;
using test::readFile;

struct Result
{
    int exitCode = -1;
    QString out, err;
};

class Cli : public ::testing::Test
{
protected:
    Cli()
    {
        env.insert("XDG_CONFIG_DIRS", QString::fromUtf8(config.path()));
        env.insert("XDG_CONFIG_HOME", QString::fromUtf8(config.path()) + "/user");
    }
    void storeSettings(const QByteArray& values)
    {
        QDir().mkpath(QString::fromUtf8(config.path()) + "/ombrevault");
        test::writeFile(config.path() + "/ombrevault/HKEY_LOCAL_MACHINE.ini",
                        "[Software]\n" + values);
    }
    void start(QProcess& process, const QStringList& args)
    {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromUtf8(dir.path()));
        process.start(QStringLiteral(OV_CLI_PATH), args);
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    Result run(const QStringList& args)
    {
        QProcess process;
        start(process, args);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    Result wipe(const QStringList& args) { return run(QStringList{"wipe"} + args); }
    // Ctrl-C once `ready` holds; false if it never did or the program did not end.
    static bool interruptWhen(QProcess& process, const std::function<bool()>& ready)
    {
        QDeadlineTimer deadline(30000);
        while (!ready()) {
            if (deadline.hasExpired() || process.state() != QProcess::Running)
                return false;
            process.waitForFinished(5);
        }
        ::kill(pid_t(process.processId()), SIGINT);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    }
    QString make(const QByteArray& name, const QByteArray& content = "confidential")
    {
        test::writeFile(dir.file(name), content);
        return QString::fromUtf8(dir.file(name));
    }

    test::TempDir dir, config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_F(Cli, UsageErrorsExitWithTwoAndTouchNothing)
{
    const QString file = make("x");
    const QStringList usage[] = {
        {"drive-info", "/", "/tmp"},    {"clean-free-space"},      {"wipe"},
        {"wipe", "--level", "4", file}, {"wipe", "--bogus", file}, {"wipe", "--level"}};
    for (const QStringList& args : usage)
        EXPECT_EQ(run(args).exitCode, 2) << args.join(' ').toStdString();
    // A stored level of no known kind is not guessed, not even a level's name: stored
    // levels are digits, and any other text would destroy nothing.
    for (const char* stored : {"4", "least", "medium", "high"}) {
        storeSettings(QByteArray("Tallowbrookworks\\Ombrevault4\\Strenth=") + stored + "\n");
        Result result = wipe({file});
        EXPECT_EQ(result.exitCode, 2) << stored;
        EXPECT_FALSE(result.out.contains("destroyed")) << stored;
    }
    EXPECT_EQ(readFile(file.toUtf8()), "confidential");
}

TEST_F(Cli, DriveInfoAndCleanFreeSpace)
{
    EXPECT_EQ(run({"drive-info", "/"}).exitCode, 0);
    Result info = run({"drive-info", "/no/such/place"});
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_TRUE(info.out.contains("Drive Type:            No Root Directory\n"));
    EXPECT_TRUE(info.out.contains("[Drive Not Mapped]")) << info.out.toStdString();
    Result clean = run({"clean-free-space", "/no/such/place"});
    EXPECT_EQ(clean.exitCode, 1);
    EXPECT_TRUE(clean.err.contains("/no/such/place")) << clean.err.toStdString();

    test::Tmpfs tmpfs(1 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString point = QFile::decodeName(tmpfs.mountPoint());
    QDir().mkpath(tmpfs.file("sub"));
    Result ram = run({"drive-info", tmpfs.file("sub")});
    EXPECT_EQ(ram.exitCode, 0);
    EXPECT_EQ(ram.out, "Drive:                 " + point +
                           "\n"
                           "Volume Serial Number:  \n"
                           "Total Space:           1.00 MB (1,048,576 bytes)\n"
                           "Total Free Space:      1.00 MB (1,048,576 bytes)\n"
                           "Available Free Space:  1.00 MB (1,048,576 bytes)\n"
                           "Drive Type:            RAM Disk\n"
                           "File System Name:      tmpfs\n"
                           "Volume Compressed:     False\n");

    Result result = run({"clean-free-space", point});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(", 8.00 KB (8,192 bytes) left")) << result.out.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << "no progress bar off a terminal";
    EXPECT_FALSE(QFile::exists(tmpfs.file("ovtempx.dat")));
}

TEST_F(Cli, CtrlCStopsTheFreeSpaceRunDeletesTheFileAndExitsWithZero)
{
    test::Tmpfs tmpfs(qint64(2) << 30);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    QProcess process;
    start(process, {"clean-free-space", QFile::decodeName(tmpfs.mountPoint())});
    ASSERT_TRUE(interruptWhen(process, [&] { return QFile::exists(tmpfs.file("ovtempx.dat")); }));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardOutput().contains("Stopped: "));
    EXPECT_FALSE(QFile::exists(tmpfs.file("ovtempx.dat")));
}

TEST_F(Cli, WipeDestroysEveryFileOnceAtEveryLevelNameAndLogsIt)
{
    const QByteArray log = QFile::encodeName(QFileInfo(OV_CLI_PATH).absolutePath()) + "/log.txt";
    const std::pair<const char*, const char*> levels[] = {
        {"1", "1"}, {"2", "2"}, {"3", "3"}, {"least", "1"}, {"medium", "2"}, {"high", "3"}};
    for (auto [level, digit] : levels) {
        const QString a = make(QByteArray("a-") + level), b = make("b");
        Result result = wipe({"--log", "--level", level, a, b, a});
        EXPECT_EQ(result.exitCode, 0) << level << result.err.toStdString();
        EXPECT_FALSE(exists(a.toUtf8()) || exists(b.toUtf8())) << level;
        EXPECT_EQ(result.out.count("destroyed " + a), 1) << level;
        EXPECT_EQ(readFile(log).count(a.toUtf8() + " Deleted via ratio " + digit + "\r\n"), 1)
            << level;
    }
}

TEST_F(Cli, WipeTakesNamesRelativeToTheCurrentFolderAlsoWhenScrambling)
{
    // A bare name has no folder of its own to be renamed in: it is the current folder's.
    for (const char* level : {"least", "high"}) {
        make("plain");
        Result result = wipe({"--scramble", "--level", level, "plain"});
        EXPECT_EQ(result.exitCode, 0) << level << result.err.toStdString();
        EXPECT_FALSE(exists(dir.file("plain")) || exists(dir.file("ovlxx.ovl"))) << level;
        EXPECT_EQ(result.out, "destroyed " + QString::fromUtf8(dir.file("plain")) +
                                  ": verified on the device\n");
    }
}

TEST_F(Cli, WipeGoesOnAfterFailuresSaysSoAndTakesItsDefaultsFromTheStore)
{
    const QString missing = QString::fromUtf8(dir.file("missing"));
    const QString folder = QString::fromUtf8(dir.path());
    const QString kept = make("kept");
    Result result = wipe({"--level=least", missing, folder, kept});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(exists(kept.toUtf8()));
    const QStringList lines = result.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << result.err.toStdString();
    EXPECT_TRUE(lines[0].contains(missing) && lines[0].contains("No such file"));
    EXPECT_TRUE(lines[1].contains(folder) && lines[1].contains("folder"));

    // A blank argument names no file, so none may be reported destroyed (medium skips it).
    result = wipe({"--level=medium", QString(), " "});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(result.out.contains("destroyed"));
    EXPECT_EQ(result.err.count("No file name given"), 2) << result.err.toStdString();

    // Scrambling from the store: an existing "ovlxx.ovl" fails the least level, and survives.
    storeSettings("Tallowbrookworks\\Ombrevault4\\Strenth=1\n"
                  "Tallowbrookworks\\Ombrevault4\\Scramble=1\n");
    const QString own = make("ovlxx.ovl", "mine");
    const QString target = make("target");
    result = wipe({target});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readFile(own.toUtf8()), "mine");
    EXPECT_TRUE(result.err.contains(own + ": Is in the way")) << result.err.toStdString();
    EXPECT_EQ(readFile(target.toUtf8()), "confidential") << "nothing is written first";
    // --no-scramble overrides it.
    result = wipe({"--no-scramble", target});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_FALSE(exists(target.toUtf8()));
}

// A name is printed so that it names the real file and cannot forge a line or a
// terminal's colours: quoted as `ls` quotes it.
TEST_F(Cli, NamesArePrintedUnambiguously)
{
    QProcess shell;
    shell.setProcessEnvironment(env);
    shell.setWorkingDirectory(QString::fromUtf8(dir.path()));
    // Through a shell, so that names that are not UTF-8 keep their bytes.
    const QString script = QStringLiteral(
        "n1=$(printf 'two\\nlines'); n2=$(printf 'bad\\377byte'); n3=$(printf 'esc\\033[31mred');"
        "for n in \"$n1\" \"$n2\" \"$n3\" 'a b'; do printf x > \"$n\"; done;"
        "ln 'a b' 'c d';"
        "\"$0\" wipe --level 1 \"$n1\" \"$n2\" \"$n3\" 'a b' \"gone$n1\"");
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), script, QStringLiteral(OV_CLI_PATH)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 1) << "one name was missing";
    const QByteArray out = shell.readAllStandardOutput();
    const QByteArray err = shell.readAllStandardError();
    const QByteArray at = dir.path() + "/";
    const QByteArray verdict = ": verified on the device\n";
    EXPECT_EQ(out, "destroyed '" + at + "two'$'\\n''lines'" + verdict + "destroyed '" + at +
                       "bad'$'\\377''byte'" + verdict + "destroyed '" + at +
                       "esc'$'\\033''[31mred'" + verdict + "destroyed '" + at + "a b'" + verdict +
                       "'" + at + "a b': 1 other name still points at the overwritten contents\n");
    EXPECT_EQ(err, "ombrevault-cli: '" + at + "gonetwo'$'\\n''lines': No such file or directory\n");
    EXPECT_EQ(readFile(dir.file("c d")), QByteArray(1, '\0'));
}

TEST_F(Cli, WipeInterruptLeavesAClearMessage)
{
    // Large enough that the high level is still busy when the signal comes.
    const QString big = make("big", QByteArray(64 << 20, 'B'));
    QProcess process;
    start(process, {"wipe", "--level", "high", big});
    // Once the first bytes have been overwritten.
    ASSERT_TRUE(interruptWhen(process, [&] {
        QFile file(big);
        return file.open(QIODevice::ReadOnly) && file.read(1) != "B";
    }));
    EXPECT_EQ(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(err.contains(big + " was left part-overwritten")) << err.toStdString();
    EXPECT_TRUE(exists(big.toUtf8()));
}

} // namespace
} // namespace ov
