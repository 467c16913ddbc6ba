#include "support/TempDir.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

class WipeCommand : public ::testing::Test
{
protected:
    WipeCommand()
    {
        // A settings store of the test's own, so the defaults are known.
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), QString::fromUtf8(config.path()));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromUtf8(config.path()) + "/user");
    }

    void storeSettings(const QByteArray& values)
    {
        QDir().mkpath(QString::fromUtf8(config.path()) + "/ombrevault");
        writeFile(config.path() + "/ombrevault/HKEY_LOCAL_MACHINE.ini", "[Software]\n" + values);
    }

    void start(QProcess& process, const QStringList& args)
    {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(OV_CLI_PATH), QStringList{QStringLiteral("wipe")} + args);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    Result run(const QStringList& args)
    {
        QProcess process;
        start(process, args);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QString make(const char* name, const QByteArray& content = "confidential")
    {
        writeFile(dir.file(name), content);
        return QString::fromUtf8(dir.file(name));
    }

    test::TempDir dir;
    test::TempDir config;
    QProcessEnvironment env;
};

TEST_F(WipeCommand, DestroysEveryFileAtEveryLevelName)
{
    for (const char* level : {"1", "2", "3", "least", "medium", "high"}) {
        const QString a = make("a"), b = make("b");
        Result result = run({QStringLiteral("--level"), QString::fromLatin1(level), a, b});
        EXPECT_EQ(result.exitCode, 0) << level << result.err.toStdString();
        EXPECT_FALSE(test::exists(a.toUtf8()));
        EXPECT_FALSE(test::exists(b.toUtf8()));
        EXPECT_TRUE(result.out.contains(QStringLiteral("destroyed ") + a));
    }
}

TEST_F(WipeCommand, GoesOnAfterAFailureAndSaysSo)
{
    const QString missing = QString::fromUtf8(dir.file("missing"));
    const QString folder = QString::fromUtf8(dir.path());
    const QString kept = make("kept");
    Result result = run({QStringLiteral("--level=least"), missing, folder, kept});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(test::exists(kept.toUtf8()));
    const QStringList lines = result.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << result.err.toStdString();
    EXPECT_TRUE(lines[0].contains(missing) && lines[0].contains(QStringLiteral("No such file")));
    EXPECT_TRUE(lines[1].contains(folder) && lines[1].contains(QStringLiteral("folder")));

    // A blank argument names no file: at the medium level nothing would be touched, so
    // it must not be reported as destroyed.
    result = run({QStringLiteral("--level=medium"), QString(), QStringLiteral(" ")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(result.out.contains(QStringLiteral("destroyed")));
    EXPECT_EQ(result.err.count(QStringLiteral("No file name given")), 2)
        << result.err.toStdString();
}

TEST_F(WipeCommand, UsageErrors)
{
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("--level"), QStringLiteral("4"), make("x")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("--bogus"), make("y")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("--level")}).exitCode, 2);
    // Nothing was touched by a refused command line.
    EXPECT_EQ(readFile(dir.file("x")), "confidential");
    EXPECT_EQ(readFile(dir.file("y")), "confidential");
}

TEST_F(WipeCommand, DefaultsComeFromTheStore)
{
    // Scrambling on by the store: a pre-existing "ovlxx.ovl" makes the least level fail,
    // and the user's file of that name survives.
    storeSettings("Tallowbrookworks\\Ombrevault4\\Strenth=1\n"
                  "Tallowbrookworks\\Ombrevault4\\Scramble=1\n");
    const QString own = make("ovlxx.ovl", "mine");
    const QString target = make("target");
    Result result = run({target});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readFile(own.toUtf8()), "mine");
    EXPECT_TRUE(result.err.contains(QStringLiteral("File exists")));
    // --no-scramble overrides it.
    result = run({QStringLiteral("--no-scramble"), target});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_FALSE(test::exists(target.toUtf8()));
}

TEST_F(WipeCommand, AStoredLevelOfNoKnownKindIsNotGuessed)
{
    storeSettings("Tallowbrookworks\\Ombrevault4\\Strenth=4\n");
    const QString file = make("f");
    Result result = run({file});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(readFile(file.toUtf8()), "confidential");
}

TEST_F(WipeCommand, DuplicatesAreWipedOnceAndLogged)
{
    const QString file = make("dup");
    Result result =
        run({QStringLiteral("--log"), QStringLiteral("--level"), QStringLiteral("3"), file, file});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out.count(QStringLiteral("destroyed")), 1);
    const QByteArray logPath =
        QFile::encodeName(QFileInfo(QStringLiteral(OV_CLI_PATH)).absolutePath()) + "/log.txt";
    const QByteArray log = readFile(logPath);
    EXPECT_EQ(log.count(file.toUtf8() + " Deleted via ratio 3\r\n"), 1);
}

TEST_F(WipeCommand, InterruptLeavesAClearMessage)
{
    // Large enough that the high level is still busy when the signal comes.
    const QString big = make("big", QByteArray(64 << 20, 'B'));
    QProcess process;
    start(process, {QStringLiteral("--level"), QStringLiteral("high"), big});
    // Wait until the first bytes have been overwritten.
    QDeadlineTimer deadline(30000);
    bool started = false;
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        QFile file(big);
        if (file.open(QIODevice::ReadOnly) && file.read(1) != "B") {
            started = true;
            break;
        }
        process.waitForFinished(5);
    }
    ASSERT_TRUE(started);
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(err.contains(big + QStringLiteral(" was left half-wiped"))) << err.toStdString();
    EXPECT_TRUE(test::exists(big.toUtf8()));
}

} // namespace
} // namespace ov
