// The free-space run on small real file systems (root only): what a recovery tool finds
// on the raw disk image afterwards.
#include "diskclean/RunFixtures.h"
#include "support/FuseMount.h"
#include "support/LoopMount.h"

#include <QFileInfo>

#include <linux/fs.h>
#include <sys/ioctl.h>

using ov::FreeSpaceRun;
using Outcome = ov::FreeSpaceRun::Outcome;
using ov::test::countOccurrences;
using ov::test::exists;
using ov::test::kMarker;
using ov::test::RealRun;
using ov::test::syncVolume;

namespace {

// Writes `data` to a new file over and over until `bytes` are written or the volume is
// full, then flushes it; how much went in.
qint64 writeFlushed(const QByteArray& path, const QByteArray& data, qint64 bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return 0;
    const QByteArray chunk = data.repeated((1 << 20) / data.size());
    qint64 written = 0;
    while (written < bytes) {
        const ssize_t n =
            ::write(fd, chunk.constData(), size_t(std::min<qint64>(chunk.size(), bytes - written)));
        if (n <= 0)
            break;
        written += n;
    }
    ::fsync(fd);
    ::close(fd);
    return written;
}

// A file system at a size it accepts, filled past the page cache where it takes that
// (direct) or by buffered writes only.
struct Kind
{
    const char* name;
    int megabytes;
    bool direct = true;
};

void PrintTo(const Kind& kind, std::ostream* out)
{
    *out << kind.name << ", " << kind.megabytes << " MiB" << (kind.direct ? "" : ", buffered");
}

std::string kindName(const ::testing::TestParamInfo<Kind>& info)
{
    return std::string(info.param.name) + (info.param.direct ? "" : "Buffered");
}

// A fresh volume of the kind; `secret` is where the file to be deleted goes.
class OnVolume : public ::testing::TestWithParam<Kind>
{
protected:
    void SetUp() override
    {
        QString why;
        mount =
            ov::test::LoopMount::create(GetParam().name, qint64(GetParam().megabytes) << 20, &why);
        if (!mount)
            GTEST_SKIP() << why.toStdString();
        secret = mount->mountPoint() + "/secret.bin";
    }
    std::unique_ptr<ov::test::LoopMount> mount;
    QByteArray secret;
};
class StoppedRun : public OnVolume
{
};
class FullRun : public OnVolume
{
};

// A run stopped in the middle leaves its filler on the disk before its file goes, or the
// file system drops what it had not written yet, and whatever the filler had covered is
// found again. The volume is read at once, as it is, without the writes an unmount
// would make; no ballast, and the volume is never full.
TEST_P(StoppedRun, ItsFillerIsOnTheDiskBeforeItsFileGoes)
{
    ASSERT_EQ(writeFlushed(secret, kMarker, 8 << 20), 8 << 20);
    syncVolume(mount->mountPoint());
    ASSERT_EQ(countOccurrences(mount->imagePath(), kMarker), (8 << 20) / 32);
    ASSERT_EQ(::unlink(secret.constData()), 0);
    syncVolume(mount->mountPoint());
    // Mounted afresh, the file system allocates from the start again, where the
    // deleted file was.
    ASSERT_TRUE(mount->unmount());
    ASSERT_TRUE(mount->remount());

    RealRun real(mount->mountPoint());
    // The stop is asked for between two buffered writes; the direct path's stop has a
    // test of its own.
    real.run.fillWriter().setDirectAllowed(false);
    std::int64_t sizeAtStop = 0;
    real.loop.onBlocking = [&] {
        const qint64 size = QFileInfo(QFile::decodeName(real.tempFile())).size();
        if (sizeAtStop == 0 && size >= (20 << 20)) {
            sizeAtStop = size;
            real.run.requestStop();
        }
    };
    real.run.run();
    real.expectCleanEnd(Outcome::Stopped);
    ASSERT_GT(sizeAtStop, 0);
    EXPECT_LT(real.run.cleanedBytes(), 24 << 20) << "stopped after the write in hand";
    EXPECT_EQ(countOccurrences(mount->imagePath(), kMarker), 0);
}

// A run to the end reaches as far as any writer could: of a deleted file that had filled
// the volume, no more survives than the threshold and one unit of allocation. (xfs sets
// space aside for writes in flight, which the run has to wait for to reach the last of
// it.)
TEST_P(FullRun, LeavesNoMoreOfADeletedFileThanTheThreshold)
{
    const Kind kind = GetParam();
    const qint64 written = writeFlushed(secret, kMarker, qint64(kind.megabytes) << 20);
    ASSERT_GT(written, qint64(kind.megabytes) << 19);
    ASSERT_TRUE(mount->unmount());
    ASSERT_GE(countOccurrences(mount->imagePath(), kMarker), written / 32);
    ASSERT_TRUE(mount->remount());
    ASSERT_EQ(::unlink(secret.constData()), 0);
    // xfs and btrfs hand freed blocks back only once the volume is synced.
    syncVolume(mount->mountPoint());

    RealRun real(mount->mountPoint());
    real.run.fillWriter().setDirectAllowed(kind.direct);
    const std::int64_t freeBefore = real.info.FreeSpace();
    real.run.run();
    real.expectCleanEnd(Outcome::Finished);
    // ext4 takes the filler past the cache; xfs places such writes where a file written
    // the common way was not, and btrfs gets buffered writes too.
    const bool directHere = kind.direct && QByteArray(kind.name) == "ext4";
    EXPECT_EQ(real.run.fillWriter().directBytes() > 0, directHere);
    EXPECT_GT(real.run.cleanedBytes(), written / 2);
    // Still the threshold or more free once the filler was on the disk: the run did not
    // end by the threshold, but because the volume refused more, which is as far as any
    // writer gets (xfs counts space for writes in flight as used until they are flushed).
    if (real.run.lastFreeBytes() >= FreeSpaceRun::kEndThreshold) {
        EXPECT_GE(real.run.cleanedBytes(), written) << real.run.lastFreeBytes() << " free";
    }
    syncVolume(mount->mountPoint());
    EXPECT_GT(real.info.FreeSpace(), freeBefore - (1 << 20)) << "the filler is gone";
    ASSERT_TRUE(mount->unmount());
    const long long left = countOccurrences(mount->imagePath(), kMarker);
    EXPECT_LE(left * 32, FreeSpaceRun::kEndThreshold + 4096) << left << " markers survived";
}

INSTANTIATE_TEST_SUITE_P(DiskRunForensic, StoppedRun,
                         ::testing::Values(Kind{"ext4", 64}, Kind{"xfs", 300}), kindName);
INSTANTIATE_TEST_SUITE_P(DiskRunForensic, FullRun,
                         ::testing::Values(Kind{"ext4", 64}, Kind{"xfs", 300}, Kind{"btrfs", 256},
                                           Kind{"ext4", 64, false}, Kind{"xfs", 300, false}),
                         kindName);

// A stop while filler goes past the cache: the write in hand ends, no further one starts,
// the file goes, and the space it took is free again (no second descriptor keeps the
// deleted file). A volume
// whose file system does not write past its cache (ext4 journalling its data) is filled
// all the same, without a word about it.
TEST(DiskRunForensic, AStopDuringDirectWritesAndAVolumeRefusingThemLeaveNoFiller)
{
    QString why;
    for (const QString& options : {QString(), QStringLiteral("data=journal")}) {
        SCOPED_TRACE(options.toStdString());
        const bool refusing = !options.isEmpty();
        auto mount = ov::test::LoopMount::create(QStringLiteral("ext4"), 96 << 20, &why, options);
        if (!mount)
            GTEST_SKIP() << why.toStdString();
        const QByteArray secret = mount->mountPoint() + "/secret.bin";
        const qint64 written = writeFlushed(secret, kMarker, 96 << 20);
        ASSERT_EQ(::unlink(secret.constData()), 0);
        syncVolume(mount->mountPoint());

        RealRun real(mount->mountPoint());
        const std::int64_t freeBefore = real.info.FreeSpace();
        // The stop comes once the file is there, before its first write: the write in
        // hand is the only one.
        real.loop.onBlocking = [&] {
            if (!refusing && exists(real.tempFile()))
                real.run.requestStop();
        };
        real.run.run();
        real.expectCleanEnd(refusing ? Outcome::Finished : Outcome::Stopped);
        EXPECT_EQ(real.run.fillWriter().directBytes() > 0, !refusing);
        if (!refusing) {
            EXPECT_EQ(real.run.cleanedBytes(), real.run.fillWriter().pieceBytes());
        }
        syncVolume(mount->mountPoint());
        EXPECT_GT(real.info.FreeSpace(), freeBefore - (1 << 20)) << "the filler is gone";
        if (refusing) {
            EXPECT_GE(real.run.cleanedBytes(), written);
        }
    }
}

// The file of a killed run holds filler that may never have reached the disk. A new run
// takes it up and deletes it: flushed first, even when nothing is added to it (here a
// stop asked for before the first write), or the filler in memory only goes with it. The
// volume is far from full, so nothing else pushes the leftover out; the disk keeps only
// what was flushed, and is looked at the moment the run has ended.
TEST(DiskRunForensic, ALeftoverIsFlushedBeforeItGoesEvenWhenNothingIsAdded)
{
    QString why;
    auto disk = ov::test::PowerCutDisk::create(QStringLiteral("ext4"), 48 << 20, &why);
    if (!disk)
        GTEST_SKIP() << why.toStdString();
    // Its own lines: what the killed run had written, still in memory.
    const QByteArray line = "<OV~a~killed~run~wrote~this~line>";
    ov::test::writeFile(disk->mountPoint() + "/" + FreeSpaceRun::tempFileName(0),
                        line.repeated(2000));

    RealRun real(disk->mountPoint());
    real.loop.onYield = [&] {
        if (real.view.status == "Preparation Done !")
            real.run.requestStop();
    };
    real.run.run();
    real.expectCleanEnd(Outcome::Stopped);
    EXPECT_EQ(real.run.cleanedBytes(), 0) << "nothing added";
    const QByteArray image = disk->snapshot(QStringLiteral("after-the-run"));
    ASSERT_FALSE(image.isEmpty());
    EXPECT_GE(countOccurrences(image, line), 2000) << "the leftover was on the disk first";
    EXPECT_FALSE(disk->namesAfterReboot(image).contains(QStringLiteral("ovtempx.dat")));
}

// Where the file system compresses, the filler (long runs of equal bytes) would shrink to
// almost nothing: counted as cleaned would be gigabytes that are not on the disk, and the
// run would write them all. The temporary file refuses compression.
TEST(DiskRunMounted, ACompressedBtrfsGetsFillerAsLargeAsTheSpaceItFills)
{
    for (const char* options : {"compress=zstd", "compress-force=zlib"}) {
        SCOPED_TRACE(options);
        QString why;
        auto mount = ov::test::LoopMount::create("btrfs", 256 << 20, &why, options);
        if (!mount)
            GTEST_SKIP() << why.toStdString();
        RealRun real(mount->mountPoint());
        const std::int64_t freeBefore = real.info.FreeSpace();
        ASSERT_TRUE(real.info.FileSystemFlag(ov::kVolumeIsCompressed));
        int flags = -1;
        real.loop.onYield = [&] {
            const int fd = ::open(real.tempFile().constData(), O_RDONLY);
            if (flags < 0 && fd >= 0)
                ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
            if (fd >= 0)
                ::close(fd);
        };
        real.run.run();
        real.expectCleanEnd(Outcome::Finished);
        ASSERT_GE(flags, 0);
        EXPECT_TRUE(flags & (FS_NOCOMP_FL | FS_NOCOW_FL)) << std::hex << flags;
        EXPECT_LE(real.run.cleanedBytes(), freeBefore);
        EXPECT_GT(real.run.cleanedBytes(), freeBefore / 2);
    }
}

} // namespace
