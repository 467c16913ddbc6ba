// ombrevault-cli clean-free-space in a child process: ended by the signals a terminal, a
// shell or the system sends, and run by a user who is not the administrator.
#include "drive/DriveInfo.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using ov::test::readFile;

// The program started with its output in files; killed if the test leaves it running.
class Child
{
public:
    explicit Child(const std::vector<QByteArray>& args)
        : m_out(m_dir.file("out")), m_err(m_dir.file("err"))
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, m_out.constData(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.constData(), O_WRONLY | O_CREAT, 0644);
        std::vector<char*> argv;
        for (const QByteArray& arg : args)
            argv.push_back(const_cast<char*>(arg.constData()));
        argv.push_back(nullptr);
        if (::posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child()
    {
        if (m_pid > 0 && m_status < 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool started() const { return m_pid > 0; }
    // Sends the signal and waits until the program has taken it: a second one sent before
    // would merge with the first.
    void signal(int number) const
    {
        ::kill(m_pid, number);
        const QDeadlineTimer deadline(10000);
        while (pending(number) && !deadline.hasExpired())
            QThread::usleep(100);
    }
    bool running()
    {
        if (m_status < 0 && ::waitpid(m_pid, &m_status, WNOHANG) == 0)
            m_status = -1;
        return m_status < 0;
    }
    // The wait status once it has ended, within 60 seconds; -1 when it did not.
    int wait()
    {
        const QDeadlineTimer deadline(60000);
        while (running() && !deadline.hasExpired())
            QThread::msleep(2);
        return m_status;
    }
    QByteArray out() const { return readFile(m_out); }
    QByteArray err() const { return readFile(m_err); }

private:
    bool pending(int number) const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if ((line.startsWith("SigPnd:") || line.startsWith("ShdPnd:")) &&
                (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (number - 1) & 1))
                return true;
        }
        return false;
    }

    ov::test::TempDir m_dir;
    QByteArray m_out, m_err;
    pid_t m_pid = -1;
    int m_status = -1;
};

QStringList fillerFiles(const QByteArray& mountPoint)
{
    return QDir(QFile::decodeName(mountPoint)).entryList({QStringLiteral("ovtempx*.dat")});
}

// Each signal ends the program only once the filler is flushed and deleted, and then by
// that signal itself: a shell loop or a script that started it sees it killed and stops
// too. A second Ctrl-C while the first is served changes nothing.
TEST(DiskCommandSignals, EachTerminationSignalRemovesTheFillerThenEndsTheProgramByIt)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 256 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    const QByteArray filler = mount->mountPoint() + "/ovtempx.dat";
    const std::vector<std::vector<int>> cases = {{SIGINT}, {SIGINT, SIGINT}, {SIGTERM}, {SIGHUP}};
    for (const std::vector<int>& sent : cases) {
        SCOPED_TRACE(::strsignal(sent[0]) + std::string(sent.size() > 1 ? " twice" : ""));
        Child child({OV_CLI_PATH, "clean-free-space", mount->mountPoint()});
        ASSERT_TRUE(child.started());
        const QDeadlineTimer deadline(30000);
        while (child.running() && QFileInfo(QFile::decodeName(filler)).size() < (16 << 20) &&
               !deadline.hasExpired())
            QThread::usleep(200);
        ASSERT_TRUE(child.running()) << "ended before a signal came: " << child.out().data();
        for (int number : sent)
            child.signal(number);
        const int status = child.wait();
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << ": " << child.err().data();
        EXPECT_EQ(WTERMSIG(status), sent[0]);
        EXPECT_TRUE(child.out().contains("Stopped: ")) << child.out().data();
        EXPECT_TRUE(fillerFiles(mount->mountPoint()).isEmpty());
    }
}

// The free bytes and the bytes available to a user, as the system counts them now.
std::pair<std::int64_t, std::int64_t> space(const QByteArray& mountPoint)
{
    struct statvfs sv;
    if (::statvfs(mountPoint.constData(), &sv) != 0)
        return {0, 0};
    return {std::int64_t(sv.f_bfree) * sv.f_frsize, std::int64_t(sv.f_bavail) * sv.f_frsize};
}

// A user the test makes up: no privileges at all. The volume's root is open to anyone.
Child asUser(const QByteArray& mountPoint)
{
    const QByteArray parent = mountPoint.left(mountPoint.lastIndexOf('/'));
    EXPECT_EQ(::chmod(parent.constData(), 0755), 0);
    EXPECT_EQ(::chmod(mountPoint.constData(), 0777), 0);
    return Child({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", OV_CLI_PATH,
                  "clean-free-space", mountPoint});
}

// A normal user's run stops where the volume keeps space for the administrator, and the
// files deleted there survive: the run says so instead of a bare "Done".
TEST(DiskCommandAsAUser, WhatTheReserveAndTheSnapshotsKeepIsToldUnderTheSummary)
{
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        GTEST_SKIP() << "setpriv is not installed";
    QString why;
    auto ext4 = ov::test::LoopMount::create("ext4", 64 << 20, &why);
    if (!ext4)
        GTEST_SKIP() << why.toStdString();
    const auto [free, available] = space(ext4->mountPoint());
    ASSERT_GT(free - available, 1 << 20) << "ext4 keeps a reserve";
    Child user = asUser(ext4->mountPoint());
    ASSERT_TRUE(user.started());
    EXPECT_EQ(user.wait(), 0) << user.err().data();
    const QByteArray out = user.out();
    const QByteArray notice =
        "Not reached: " + ov::CDriveInfo::FormatSize(free - available, true).toUtf8() +
        " that the volume keeps back from users other than the "
        "administrator; deleted data there survives.";
    EXPECT_TRUE(out.contains("\nDone: ")) << out.data();
    EXPECT_TRUE(out.contains(notice)) << out.data();
    EXPECT_LT(out.indexOf("Done: "), out.indexOf(notice)) << "under the summary";
    EXPECT_TRUE(fillerFiles(ext4->mountPoint()).isEmpty());

    // The administrator fills the reserve: nothing of it to tell.
    Child root({OV_CLI_PATH, "clean-free-space", ext4->mountPoint()});
    EXPECT_EQ(root.wait(), 0);
    EXPECT_FALSE(root.out().contains("keeps back from users other than")) << root.out().data();

    // On btrfs, the snapshots a user can see keep what was deleted since they were taken.
    auto btrfs = ov::test::LoopMount::create("btrfs", 256 << 20, &why);
    if (!btrfs)
        GTEST_SKIP() << why.toStdString();
    const QString point = QFile::decodeName(btrfs->mountPoint());
    ASSERT_TRUE(ov::test::runTool("btrfs", {"subvolume", "create", point + "/home"}));
    ASSERT_TRUE(ov::test::runTool(
        "btrfs", {"subvolume", "snapshot", point + "/home", point + "/home/before update"}));
    Child onBtrfs = asUser(btrfs->mountPoint());
    EXPECT_EQ(onBtrfs.wait(), 0) << onBtrfs.err().data();
    EXPECT_TRUE(onBtrfs.out().contains("Not reached: files deleted since the snapshot '" +
                                       btrfs->mountPoint() + "/home/before update' was taken"))
        << onBtrfs.out().data();
    EXPECT_FALSE(onBtrfs.out().contains("administrator")) << "btrfs keeps no such reserve";
    EXPECT_TRUE(fillerFiles(btrfs->mountPoint()).isEmpty());
    // The administrator sees every snapshot of the file system, by its path from the top.
    Child rootOnBtrfs({OV_CLI_PATH, "clean-free-space", btrfs->mountPoint()});
    EXPECT_EQ(rootOnBtrfs.wait(), 0);
    EXPECT_TRUE(rootOnBtrfs.out().contains(
        "Not reached: files deleted since the snapshot 'home/before update' was taken"))
        << rootOnBtrfs.out().data();
}

} // namespace
