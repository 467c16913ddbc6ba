// The run on real small file systems, made by the tests when they may (root).
#include "diskclean/RecordingView.h"
#include "platform/LinuxVolumes.h"
#include "support/LoopMount.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <set>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using ov::FreeSpaceRun;

namespace {

// The run with the real volume queries, pointed at one mount point.
struct RealRun
{
    explicit RealRun(const QByteArray& mountPoint)
    {
        info.setRootPath(mountPoint);
        view.designator = mountPoint;
    }

    QByteArray tempFile(int index = 0) const
    {
        return view.designator + "/" + FreeSpaceRun::tempFileName(index);
    }

    void expectCleanEnd(FreeSpaceRun::Outcome outcome)
    {
        EXPECT_TRUE(view.reports.isEmpty()) << view.reports.join("|").toStdString();
        EXPECT_EQ(run.lastOutcome(), outcome);
        EXPECT_EQ(view.status, "Done");
        EXPECT_FALSE(view.stopInFront);
        EXPECT_TRUE(view.driveListEnabled);
        for (int index = 0; index < 8; ++index)
            EXPECT_FALSE(ov::test::exists(tempFile(index))) << index;
    }

    ov::test::RecordingLoop loop;
    ov::LinuxVolumes volumes{loop};
    ov::CDriveInfo info{volumes};
    ov::test::RecordingView view;
    ov::Settings settings;
    FreeSpaceRun run{info, view, loop, settings, nullptr};
};

// A tmpfs of the given size on a folder of its own.
class Tmpfs
{
public:
    explicit Tmpfs(qint64 size)
    {
        if (!ov::test::runningAsRoot())
            return;
        m_point = m_dir.path() + "/mnt";
        QDir().mkpath(QFile::decodeName(m_point));
        const QByteArray options = "size=" + QByteArray::number(size);
        m_mounted = ::mount("tmpfs", m_point.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~Tmpfs()
    {
        if (m_mounted)
            ::umount2(m_point.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QByteArray mountPoint() const { return m_point; }
    void detach()
    {
        ::umount2(m_point.constData(), MNT_DETACH);
        m_mounted = false;
    }

private:
    ov::test::TempDir m_dir;
    QByteArray m_point;
    bool m_mounted = false;
};

// Leaves about `keep` bytes free by reserving the rest in one file (quick: no writing).
bool leaveFree(const QByteArray& mountPoint, qint64 keep)
{
    ov::DirectEventLoop loop;
    ov::LinuxVolumes volumes(loop);
    auto space = volumes.querySpaceEx(mountPoint + "/");
    if (!space || qint64(space->availableBytes) <= keep)
        return false;
    const QByteArray path = mountPoint + "/ballast";
    int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0600);
    if (fd < 0)
        return false;
    const int rc = ::posix_fallocate(fd, 0, qint64(space->availableBytes) - keep);
    ::fsync(fd);
    ::close(fd);
    return rc == 0;
}

TEST(MountedRun, TmpfsFillsExactlyToTheThreshold)
{
    Tmpfs tmpfs(4 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    RealRun real(tmpfs.mountPoint());
    real.run.Command1_Click();
    real.expectCleanEnd(FreeSpaceRun::Outcome::Finished);
    // A page at a time: the last block left two pages, the first figure below 10,000.
    EXPECT_EQ(real.view.left, "8.00 KB (8,192 bytes)\r\nLeft to clean");
    EXPECT_EQ(real.run.cleanedBytes() % 912, 0);
    EXPECT_GT(real.run.cleanedBytes(), (4 << 20) - 10000 - 4096);
    EXPECT_EQ(real.info.FreeSpace(), 4 << 20) << "the filler is gone";
}

TEST(MountedRun, FileSizeLimitContinuesInFurtherFiles)
{
    Tmpfs tmpfs(4 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    // A file-size limit of one MiB stands in for FAT32's 4 GiB (the kernel here mounts
    // no vfat); the signal is ignored so that writes fail with EFBIG instead.
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
    struct rlimit limit = saved;
    limit.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

    RealRun real(tmpfs.mountPoint());
    std::set<int> seen;
    real.loop.onYield = [&] {
        for (int index = 0; index < 8; ++index) {
            if (ov::test::exists(real.tempFile(index)))
                seen.insert(index);
        }
    };
    real.run.Command1_Click();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    real.expectCleanEnd(FreeSpaceRun::Outcome::Finished);
    EXPECT_EQ(seen, std::set<int>({0, 1, 2, 3}));
    EXPECT_EQ(real.view.left, "8.00 KB (8,192 bytes)\r\nLeft to clean");
    EXPECT_GT(real.run.cleanedBytes(), (4 << 20) - 10000 - 4 * 4096);
}

TEST(MountedRun, Ext4FillsUntilFullAndStops)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 32 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    {
        RealRun real(mount->mountPoint());
        const std::int64_t freeBefore = real.info.FreeSpace();
        real.run.Command1_Click();
        real.expectCleanEnd(FreeSpaceRun::Outcome::Finished);
        // ext4 keeps a few clusters for its own metadata that not even root may fill;
        // the run ends at the first refused write there.
        EXPECT_GT(real.run.cleanedBytes(), freeBefore * 9 / 10);
        EXPECT_GT(real.info.FreeSpace(), freeBefore - (1 << 20));
    }
    {
        RealRun real(mount->mountPoint());
        std::int64_t sizeAtStop = 0;
        real.loop.onYield = [&] {
            if (!sizeAtStop && ov::test::exists(real.tempFile())) {
                sizeAtStop = QFileInfo(QFile::decodeName(real.tempFile())).size();
                real.run.cmdStop_Click();
            }
        };
        real.run.Command1_Click();
        real.expectCleanEnd(FreeSpaceRun::Outcome::Stopped);
        EXPECT_GT(sizeAtStop, 0);
        EXPECT_LT(real.run.cleanedBytes(), 20 << 20) << "stopped long before the end";
    }
}

TEST(MountedRun, ReadOnlyVolumeIsReportedAndNothingWritten)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 32 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    ASSERT_TRUE(mount->unmount());
    ASSERT_TRUE(mount->remount("ro"));
    RealRun real(mount->mountPoint());
    real.run.Command1_Click();
    ASSERT_EQ(real.view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(real.view.reports[0].contains("Read-only file system"))
        << real.view.reports[0].toStdString();
    EXPECT_TRUE(real.view.reports[0].contains(QFile::decodeName(real.tempFile())));
    EXPECT_EQ(real.run.lastOutcome(), FreeSpaceRun::Outcome::Failed);
    EXPECT_TRUE(real.view.driveListEnabled);
    EXPECT_FALSE(real.view.stopInFront);
    EXPECT_FALSE(ov::test::exists(real.tempFile()));
}

TEST(MountedRun, XfsAndBtrfsFillToTheirEnd)
{
    for (const char* type : {"xfs", "btrfs"}) {
        QString why;
        auto mount = ov::test::LoopMount::create(type, (type[0] == 'x' ? 300 : 128) << 20, &why);
        if (!mount) {
            ADD_FAILURE() << type << ": " << why.toStdString();
            continue;
        }
        ASSERT_TRUE(leaveFree(mount->mountPoint(), 24 << 20)) << type;
        RealRun real(mount->mountPoint());
        real.run.Command1_Click();
        real.expectCleanEnd(FreeSpaceRun::Outcome::Finished);
        EXPECT_GT(real.run.cleanedBytes(), 16 << 20) << type;
    }
}

TEST(MountedRun, VolumesThatAreNotThereGetNothing)
{
    Tmpfs tmpfs(1 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    RealRun real(tmpfs.mountPoint());
    ASSERT_TRUE(real.info.Present());
    // Lazily unmounted: what is left is an empty folder of the volume around it.
    tmpfs.detach();
    real.run.Command1_Click();
    real.expectCleanEnd(FreeSpaceRun::Outcome::Finished);
    EXPECT_EQ(real.run.cleanedBytes(), 0);
    EXPECT_TRUE(QDir(QFile::decodeName(tmpfs.mountPoint())).isEmpty());

    RealRun missing("/no/such/volume");
    EXPECT_FALSE(missing.info.Present());
    missing.run.Command1_Click();
    missing.expectCleanEnd(FreeSpaceRun::Outcome::Finished);
}

} // namespace
