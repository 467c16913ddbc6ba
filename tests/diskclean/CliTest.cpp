// ombrevault-cli drive-info and clean-free-space, run as a user would run them.
#include "settings/SettingsStore.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/mount.h>

namespace {

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

Result runCli(const QStringList& args, const QString& program = QStringLiteral(OV_CLI_PATH),
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    process.waitForFinished(60000);
    Result result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

class TmpfsMount
{
public:
    explicit TmpfsMount(qint64 size)
    {
        m_point = m_dir.path() + "/vol";
        QDir().mkpath(QFile::decodeName(m_point));
        const QByteArray options = "size=" + QByteArray::number(size);
        m_mounted = ov::test::runningAsRoot() &&
                    ::mount("tmpfs", m_point.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(m_point.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString point() const { return QFile::decodeName(m_point); }
    QString file(const char* name) const { return point() + QLatin1Char('/') + name; }

private:
    ov::test::TempDir m_dir;
    QByteArray m_point;
    bool m_mounted = false;
};

TEST(CliDriveInfo, FactsNoticesAndUsage)
{
    Result here = runCli({"drive-info", "/"});
    EXPECT_EQ(here.exitCode, 0) << here.err.toStdString();
    EXPECT_TRUE(here.out.contains("File System Name:")) << here.out.toStdString();

    Result missing = runCli({"drive-info", "/no/such/place"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.out.contains("Drive Type:            No Root Directory\n"))
        << missing.out.toStdString();
    EXPECT_TRUE(missing.out.contains("[Drive Not Mapped]"));

    EXPECT_EQ(runCli({"drive-info", "/", "/tmp"}).exitCode, 2);
    EXPECT_EQ(runCli({"clean-free-space"}).exitCode, 2);

    TmpfsMount tmpfs(1 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    QDir().mkpath(tmpfs.file("sub"));
    Result ram = runCli({"drive-info", tmpfs.file("sub")});
    EXPECT_EQ(ram.exitCode, 0);
    EXPECT_EQ(ram.out, "Drive:                 " + tmpfs.point() +
                           "\n"
                           "Volume Serial Number:  \n"
                           "Total Space:           1.00 MB (1,048,576 bytes)\n"
                           "Total Free Space:      1.00 MB (1,048,576 bytes)\n"
                           "Available Free Space:  1.00 MB (1,048,576 bytes)\n"
                           "Drive Type:            RAM Disk\n"
                           "File System Name:      tmpfs\n"
                           "Volume Compressed:     False\n");
}

TEST(CliCleanFreeSpace, FillsAndLogsOnce)
{
    TmpfsMount tmpfs(4 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    // A copy of the program in a folder of its own keeps its log there, and settings
    // of its own turn logging on.
    ov::test::TempDir home;
    const QString program = QFile::decodeName(home.file("ombrevault-cli"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(OV_CLI_PATH), program));
    ov::SettingsStore::Locations locations{home.file("etc"), home.file("config")};
    ov::SettingsStore(locations).WriteSetting("Log", "1");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_DIRS", QFile::decodeName(locations.systemConfigFolder));
    env.insert("XDG_CONFIG_HOME", QFile::decodeName(locations.userConfigFolder));

    Result result = runCli({"clean-free-space", tmpfs.point()}, program, env);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains("Done: ")) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(", 8.00 KB (8,192 bytes) left")) << result.out.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << "no progress bar off a terminal";
    EXPECT_FALSE(QFile::exists(tmpfs.file("ovtempx.dat")));
    const QByteArray log = ov::test::readFile(home.file("log.txt"));
    EXPECT_EQ(log.count("Cleaning Free Space on drive " + QFile::encodeName(tmpfs.point())), 1)
        << log.constData();
}

TEST(CliCleanFreeSpace, FailuresExitWithOne)
{
    Result missing = runCli({"clean-free-space", "/no/such/place"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("/no/such/place")) << missing.err.toStdString();

    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 32 << 20, &why, "ro");
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    Result readOnly = runCli({"clean-free-space", QFile::decodeName(mount->mountPoint())});
    EXPECT_EQ(readOnly.exitCode, 1);
    EXPECT_TRUE(readOnly.err.contains("The error occured on line 0please email"))
        << readOnly.err.toStdString();
    EXPECT_TRUE(readOnly.err.contains(QFile::decodeName(mount->mountPoint()) +
                                      "/ovtempx.dat: Read-only file system"))
        << readOnly.err.toStdString();
}

TEST(CliCleanFreeSpace, CtrlCStopsAndDeletesTheFile)
{
    TmpfsMount tmpfs(qint64(2) << 30);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    QProcess process;
    process.start(QStringLiteral(OV_CLI_PATH), {"clean-free-space", tmpfs.point()});
    ASSERT_TRUE(process.waitForStarted());
    QDeadlineTimer deadline(20000);
    while (!QFile::exists(tmpfs.file("ovtempx.dat")) && !deadline.hasExpired() &&
           process.state() == QProcess::Running)
        QThread::usleep(200);
    ASSERT_TRUE(QFile::exists(tmpfs.file("ovtempx.dat")));
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardOutput().contains("Stopped: "));
    EXPECT_FALSE(QFile::exists(tmpfs.file("ovtempx.dat")));
}

} // namespace
