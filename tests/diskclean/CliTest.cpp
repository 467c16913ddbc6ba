// ombrevault-cli drive-info and clean-free-space, run as a user would run them.
#include "diskclean/Tmpfs.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

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
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(DiskCli, ExitCodesOfUsageAndMissingVolumes)
{
    EXPECT_EQ(runCli({"drive-info", "/"}).exitCode, 0);
    EXPECT_EQ(runCli({"drive-info", "/", "/tmp"}).exitCode, 2);
    EXPECT_EQ(runCli({"clean-free-space"}).exitCode, 2);
    Result info = runCli({"drive-info", "/no/such/place"});
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_TRUE(info.out.contains("Drive Type:            No Root Directory\n"));
    EXPECT_TRUE(info.out.contains("[Drive Not Mapped]")) << info.out.toStdString();
    Result clean = runCli({"clean-free-space", "/no/such/place"});
    EXPECT_EQ(clean.exitCode, 1);
    EXPECT_TRUE(clean.err.contains("/no/such/place")) << clean.err.toStdString();
}

TEST(DiskCli, DriveInfoAndAFillOfATmpfs)
{
    ov::test::Tmpfs tmpfs(1 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString point = QFile::decodeName(tmpfs.mountPoint());
    QDir().mkpath(tmpfs.file("sub"));
    Result ram = runCli({"drive-info", tmpfs.file("sub")});
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

    Result result = runCli({"clean-free-space", point});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(", 8.00 KB (8,192 bytes) left")) << result.out.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << "no progress bar off a terminal";
    EXPECT_FALSE(QFile::exists(tmpfs.file("ovtempx.dat")));
}

TEST(DiskCli, CtrlCStopsDeletesTheFileAndExitsWithZero)
{
    ov::test::Tmpfs tmpfs(qint64(2) << 30);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    QProcess process;
    process.start(QStringLiteral(OV_CLI_PATH),
                  {"clean-free-space", QFile::decodeName(tmpfs.mountPoint())});
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
