// The run on real small file systems, made by the tests when they may (root).
#include "diskclean/RecordingView.h"
#include "diskclean/Tmpfs.h"
#include "support/LoopMount.h"

#include <csignal>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

using ov::FreeSpaceRun;
using Outcome = ov::FreeSpaceRun::Outcome;
using ov::test::RealRun;

namespace {

TEST(DiskRunMounted, TmpfsFillsToTheThresholdAndEfbigGoesOnInFurtherFiles)
{
    for (bool sizeLimit : {false, true}) {
        ov::test::Tmpfs tmpfs(4 << 20);
        if (!tmpfs.mounted())
            GTEST_SKIP() << "mounting a tmpfs needs root";
        // A file-size limit of one MiB stands in for FAT32's 4 GiB; with the signal
        // ignored the writes fail with EFBIG.
        struct rlimit saved;
        struct sigaction ignore = {}, previous = {};
        ignore.sa_handler = SIG_IGN;
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit limit = saved;
        limit.rlim_cur = sizeLimit ? 1 << 20 : saved.rlim_cur;
        ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
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

        real.expectCleanEnd(Outcome::Finished);
        EXPECT_EQ(seen, sizeLimit ? std::set<int>({0, 1, 2, 3}) : std::set<int>({0}));
        // A page at a time: the last block left two pages, the first figure below 10,000.
        EXPECT_EQ(real.view.left, "8.00 KB (8,192 bytes)\r\nLeft to clean");
        EXPECT_GT(real.run.cleanedBytes(), (4 << 20) - 10000 - 4 * 4096);
        EXPECT_EQ(real.info.FreeSpace(), 4 << 20) << "the filler is gone";
    }
}

// Leaves about `keep` bytes free by reserving the rest in one file (quick: no writing).
bool leaveFree(const QByteArray& mountPoint, qint64 keep)
{
    ov::DirectEventLoop loop;
    ov::LinuxVolumes volumes(loop);
    auto space = volumes.querySpaceEx(mountPoint + "/");
    const int fd = ::open((mountPoint + "/ballast").constData(), O_WRONLY | O_CREAT, 0600);
    const bool done = space && qint64(space->availableBytes) > keep && fd >= 0 &&
                      ::posix_fallocate(fd, 0, qint64(space->availableBytes) - keep) == 0 &&
                      ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

TEST(DiskRunMounted, Ext4XfsAndBtrfsFillUntilTheWritesAreRefused)
{
    const std::pair<const char*, int> types[] = {{"ext4", 48}, {"xfs", 300}, {"btrfs", 128}};
    for (auto [type, megabytes] : types) {
        QString why;
        auto mount = ov::test::LoopMount::create(type, qint64(megabytes) << 20, &why);
        if (!mount)
            GTEST_SKIP() << type << ": " << why.toStdString();
        ASSERT_TRUE(leaveFree(mount->mountPoint(), 24 << 20)) << type;
        RealRun real(mount->mountPoint());
        const std::int64_t freeBefore = real.info.FreeSpace();
        real.run.Command1_Click();
        // ENOSPC (or the blocks the file system keeps for itself) is a normal end.
        real.expectCleanEnd(Outcome::Finished);
        EXPECT_GT(real.run.cleanedBytes(), 16 << 20) << type;
        // xfs and btrfs hand freed blocks back only once the volume is synced.
        const int fd = ::open(mount->mountPoint().constData(), O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(::syncfs(fd), 0);
        ::close(fd);
        EXPECT_GT(real.info.FreeSpace(), freeBefore - (1 << 20)) << type << ": the filler is gone";
    }
}

TEST(DiskRunMounted, ReadOnlyVolumeIsReportedAndNothingWritten)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 32 << 20, &why, "ro");
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    RealRun real(mount->mountPoint());
    real.run.Command1_Click();
    ASSERT_EQ(real.view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(real.view.reports[0].contains(QFile::decodeName(real.tempFile()) +
                                              ": Read-only file system"))
        << real.view.reports[0].toStdString();
    EXPECT_EQ(real.run.lastOutcome(), Outcome::Failed);
    EXPECT_TRUE(real.view.driveListEnabled);
    EXPECT_FALSE(real.view.stopInFront);
}

TEST(DiskRunMounted, VolumesThatAreNotThereGetNothing)
{
    ov::test::Tmpfs tmpfs(1 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    RealRun real(tmpfs.mountPoint());
    ASSERT_TRUE(real.info.Present());
    // Lazily unmounted: what is left is an empty folder of the volume around it.
    tmpfs.detach();
    real.run.Command1_Click();
    real.expectCleanEnd(Outcome::Finished);
    EXPECT_EQ(real.run.cleanedBytes(), 0);
    EXPECT_TRUE(QDir(QFile::decodeName(tmpfs.mountPoint())).isEmpty());

    RealRun missing("/no/such/volume");
    EXPECT_FALSE(missing.info.Present());
    missing.run.Command1_Click();
    missing.expectCleanEnd(Outcome::Finished);
}

} // namespace
