#include "drive/DriveInfo.h"
#include "drive/FakeVolumes.h"
#include "platform/Error.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>

using ov::CDriveInfo;
using ov::test::FakeVolumes;

namespace {

struct SizeRow
{
    std::int64_t size;
    const char* shortText;
    const char* longText;
};

TEST(FormatSize, TheExampleTableAndTheRowsBeyondIt)
{
    const SizeRow rows[] = {
        {0, "0 bytes", "0 bytes"},
        {1, "1 byte", "1 byte"},
        {1023, "1,023 bytes", "1,023 bytes"},
        {1024, "1.00 KB", "1.00 KB (1,024 bytes)"},
        {10239, "10.00 KB", "10.00 KB (10,239 bytes)"},
        {10240, "10.0 KB", "10.0 KB (10,240 bytes)"},
        {102400, "100 KB", "100 KB (102,400 bytes)"},
        {1023999, "1000 KB", "1000 KB (1,023,999 bytes)"},
        {1024000, "0.98 MB", "0.98 MB (1,024,000 bytes)"},
        {10240000, "9.8 MB", "9.8 MB (10,240,000 bytes)"},
        {102400000, "98 MB", "98 MB (102,400,000 bytes)"},
        {1024000000, "0.95 GB", "0.95 GB (1,024,000,000 bytes)"},
        {1610612736, "1.50 GB", "1.50 GB (1,610,612,736 bytes)"},
        // From 10,000,000 KB on: one decimal, then none from 100,000,000 KB on.
        {10239999999LL, "9.54 GB", "9.54 GB (10,239,999,999 bytes)"},
        {10240000000LL, "9.5 GB", "9.5 GB (10,240,000,000 bytes)"},
        {102399999999LL, "95.4 GB", "95.4 GB (102,399,999,999 bytes)"},
        {102400000000LL, "95 GB", "95 GB (102,400,000,000 bytes)"},
        {4000787030016LL, "3726 GB", "3726 GB (4,000,787,030,016 bytes)"},
        {CDriveInfo::kMaxByteCount, "858993 GB", "858993 GB (922,337,203,685,477 bytes)"},
        // Exact halves round away from zero in every format.
        {1152, "1.13 KB", "1.13 KB (1,152 bytes)"},
        {10496, "10.3 KB", "10.3 KB (10,496 bytes)"},
        {102912, "101 KB", "101 KB (102,912 bytes)"},
        // Negative sizes are counted in bytes and never get the long part.
        {-1, "-1 bytes", "-1 bytes"},
        {-5, "-5 bytes", "-5 bytes"},
        {-1234567, "-1,234,567 bytes", "-1,234,567 bytes"},
    };
    for (const SizeRow& row : rows) {
        EXPECT_EQ(CDriveInfo::FormatSize(row.size, false), QString::fromLatin1(row.shortText))
            << row.size;
        EXPECT_EQ(CDriveInfo::FormatSize(row.size, true), QString::fromLatin1(row.longText))
            << row.size;
    }
}

TEST(FormatSize, IgnoresTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(CDriveInfo::FormatSize(1610612736, true), "1.50 GB (1,610,612,736 bytes)");
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
}

TEST(CutAtNul, NulBlanksAndPlainText)
{
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray("DATA\0junk", 9)), "DATA");
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray("D\0", 2)), "D");
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray("\0DATA", 5)), "");
    // Blanks are trimmed only when there is no NUL; tabs are no blanks.
    EXPECT_EQ(CDriveInfo::CutAtNul("  MY DISK  "), "MY DISK");
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray(" A \0 ", 5)), " A ");
    EXPECT_EQ(CDriveInfo::CutAtNul("\tX"), "\tX");
    EXPECT_EQ(CDriveInfo::CutAtNul(""), "");
}

TEST(DriveTypeTexts, EveryCodeAndTheNotices)
{
    const char* texts[] = {"Unknown", "No Root Directory", "Removable", "Fixed", "Remote",
                           "CD-ROM",  "RAM Disk"};
    for (int code = 0; code <= 6; ++code)
        EXPECT_EQ(CDriveInfo::DriveTypeText(code), QString::fromLatin1(texts[code]));
    EXPECT_EQ(CDriveInfo::DriveTypeText(7), "Unknown");
    EXPECT_EQ(CDriveInfo::DriveTypeText(-1), "Unknown");

    EXPECT_EQ(CDriveInfo::NotPresentNotice(1), "[Drive Not Mapped]");
    EXPECT_EQ(CDriveInfo::NotPresentNotice(2), "[Disk Not Present]");
    EXPECT_EQ(CDriveInfo::NotPresentNotice(5), "[Disc Not Present]");
    for (int code : {0, 3, 4, 6, 9})
        EXPECT_TRUE(CDriveInfo::NotPresentNotice(code).isEmpty()) << code;
}

class DriveInfoTest : public ::testing::Test
{
protected:
    FakeVolumes volumes;
};

TEST_F(DriveInfoTest, ClassStartAsksForTheExtendedQueryAndDescribesTheCurrentVolume)
{
    volumes.add("/", 1000000, 500000);
    CDriveInfo info(volumes);
    EXPECT_EQ(volumes.askedModule, "libc.so.6");
    EXPECT_EQ(volumes.askedFunction, "statvfs64");
    EXPECT_EQ(info.Drive(), "/");
    EXPECT_TRUE(info.Present());
    EXPECT_EQ(info.TotalSpace(), 1000000);
}

TEST_F(DriveInfoTest, AnOverflowAtClassStartLeavesAnObjectThatIsNotPresent)
{
    volumes.add("/", 1, 1).space->totalBytes = CDriveInfo::kMaxByteCount + 1;
    CDriveInfo info(volumes);
    ASSERT_TRUE(info.startFailure());
    EXPECT_EQ(info.startFailure()->code(), EOVERFLOW);
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.Drive(), "/");
    volumes.volumes["/"].space->totalBytes = 1;
    info.Refresh();
    EXPECT_TRUE(info.Present());
}

TEST_F(DriveInfoTest, DriveTakesPathsEntryTextsAndRootPaths)
{
    volumes.add("/", 1, 1);
    volumes.add("/media/usb/", 1, 1);
    volumes.missing = {"/media/gone", "/nowhere"};
    CDriveInfo info(volumes);
    info.Drive("/media/usb/photos/2020");
    EXPECT_EQ(info.Drive(), "/media/usb/");
    info.Drive("/media/usb");
    EXPECT_EQ(info.Drive(), "/media/usb/");
    info.Drive("/");
    EXPECT_EQ(info.Drive(), "/");
    // An entry text of a mount that has gone: the mount point before the label.
    info.Drive("/media/gone [HOLIDAY]");
    EXPECT_EQ(info.Drive(), "/media/gone/");
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.DriveType(), ov::kDriveNoRootDir);
    // A missing path is kept, given one trailing "/".
    info.Drive("/nowhere");
    EXPECT_EQ(info.Drive(), "/nowhere/");
    info.Drive("/nowhere/");
    EXPECT_EQ(info.Drive(), "/nowhere/");
    info.setRootPath("/media/usb");
    EXPECT_EQ(info.Drive(), "/media/usb/");
    EXPECT_TRUE(info.Present());
}

TEST_F(DriveInfoTest, VolumeFactsSerialNumbersAndFlags)
{
    auto& volume = volumes.add("/v/", 4096, 2048);
    volume.facts->label = QByteArray("BACKUP\0\0\0", 9);
    volume.facts->fileSystem = QByteArray("btrfs\0", 6);
    volume.facts->serialNumber = 0xDEADBEEF;
    volume.facts->maxComponentLength = 255;
    volume.facts->flags = ov::kVolumeIsCompressed | ov::kCaseSensitiveSearch;
    CDriveInfo info(volumes);
    info.Drive("/v/");
    EXPECT_TRUE(info.Present());
    EXPECT_EQ(info.Label(), "BACKUP");
    EXPECT_EQ(info.FileSystem(), "btrfs");
    EXPECT_EQ(info.SerialNumberEx(), "DEAD-BEEF");
    EXPECT_EQ(info.SerialNumber(), "-559038737");
    EXPECT_EQ(info.MaxFilenameLength(), 255);
    EXPECT_TRUE(info.FileSystemFlag(0x8000));
    EXPECT_TRUE(info.FileSystemFlag(0x8001));
    EXPECT_FALSE(info.FileSystemFlag(0x8002));
    EXPECT_TRUE(info.FileSystemFlag(0));
    EXPECT_FALSE(info.FileSystemFlag(ov::kReadOnlyVolume));

    volume.facts->serialNumber = 0x1A2B;
    info.Refresh();
    EXPECT_EQ(info.SerialNumberEx(), "0000-1A2B");
    EXPECT_EQ(info.SerialNumber(), "6699");
    volume.facts->serialNumber = 0;
    info.Refresh();
    EXPECT_EQ(info.SerialNumberEx(), "");
    EXPECT_EQ(info.SerialNumber(), "0");
}

TEST_F(DriveInfoTest, AFailedSpaceQueryKeepsTheLastVolumeFacts)
{
    auto& volume = volumes.add("/v/", 4096, 2048);
    volume.facts->label = "KEPT";
    CDriveInfo info(volumes);
    info.Drive("/v/");
    ASSERT_EQ(info.Label(), "KEPT");
    volume.space.reset(); // the medium was taken out
    EXPECT_EQ(info.FreeSpace(), 0);
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.TotalSpace(), 0);
    EXPECT_EQ(info.AvailableSpace(), 0);
    const int volumeQueries = volumes.volumeQueries;
    info.Refresh();
    EXPECT_EQ(volumes.volumeQueries, volumeQueries) << "no volume query without space";
    EXPECT_EQ(info.Label(), "KEPT");
}

TEST_F(DriveInfoTest, AFailedVolumeQueryClearsTheFacts)
{
    auto& volume = volumes.add("/v/", 4096, 2048);
    volume.facts->label = "GONE";
    volume.facts->serialNumber = 7;
    volume.facts->flags = 3;
    CDriveInfo info(volumes);
    info.Drive("/v/");
    volume.facts.reset();
    info.Refresh();
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.Label(), "");
    EXPECT_EQ(info.FileSystem(), "");
    EXPECT_EQ(info.SerialNumberEx(), "");
    EXPECT_EQ(info.FileSystemFlags(), 0u);
    EXPECT_EQ(info.MaxFilenameLength(), 0);
    // A later space read alone turns Present back on, as the space query decides it.
    EXPECT_EQ(info.FreeSpace(), 2048);
    EXPECT_TRUE(info.Present());
}

TEST_F(DriveInfoTest, ExtendedCountsAreExactAndOverflowAboveTheLimit)
{
    auto& volume = volumes.add("/big/", 0, 0);
    volume.space = ov::SpaceFigures{CDriveInfo::kMaxByteCount - 1, CDriveInfo::kMaxByteCount,
                                    CDriveInfo::kMaxByteCount - 2};
    CDriveInfo info(volumes);
    info.Drive("/big/");
    EXPECT_EQ(info.TotalSpace(), CDriveInfo::kMaxByteCount);
    EXPECT_EQ(info.AvailableSpace(), CDriveInfo::kMaxByteCount - 1);
    EXPECT_EQ(info.FreeSpace(), CDriveInfo::kMaxByteCount - 2);

    volume.space->freeBytes = CDriveInfo::kMaxByteCount + 1;
    try {
        info.FreeSpace();
        FAIL() << "no overflow";
    } catch (const ov::Error& error) {
        EXPECT_EQ(error.code(), EOVERFLOW);
        EXPECT_EQ(error.path(), "/big/");
    }
    EXPECT_FALSE(info.Present());
}

TEST_F(DriveInfoTest, ClusterCountsInSigned32Bits)
{
    volumes.extended = false;
    auto& volume = volumes.add("/fat/", 0, 0);
    // 4 KiB clusters: 524,287 of them are 2,147,479,552 bytes, still in range.
    volume.clusters = ov::ClusterFigures{8, 512, 1000, 524287};
    CDriveInfo info(volumes);
    info.Drive("/fat/");
    EXPECT_TRUE(info.Present());
    EXPECT_EQ(info.TotalSpace(), 2147479552LL);
    EXPECT_EQ(info.FreeSpace(), 4096000);
    EXPECT_EQ(info.AvailableSpace(), 4096000);

    // One more cluster is 2^31 bytes: an overflow, raised to the caller.
    volume.clusters->totalClusters = 524288;
    EXPECT_THROW(info.Refresh(), ov::Error);
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.TotalSpace(), 0);

    // So is a free count that overflows, after a total that fits.
    volume.clusters = ov::ClusterFigures{64, 512, 0x10000, 100};
    EXPECT_THROW(info.FreeSpace(), ov::Error);
    EXPECT_EQ(info.TotalSpace(), 3276800);

    volume.clusters.reset();
    EXPECT_EQ(info.FreeSpace(), 0);
    EXPECT_FALSE(info.Present());
}

TEST_F(DriveInfoTest, LabelWriteChangesOnlyWhatTheSystemAccepted)
{
    auto& volume = volumes.add("/v/", 1, 1);
    volume.facts->label = "OLD";
    CDriveInfo info(volumes);
    info.Drive("/v/");
    info.Label("NEW");
    EXPECT_EQ(info.Label(), "OLD");
    EXPECT_EQ(volume.facts->label, "OLD");
    volumes.labelsWritable = true;
    info.Label("NEW");
    EXPECT_EQ(info.Label(), "NEW");
}

TEST_F(DriveInfoTest, SpaceIsAskedForOnEveryRead)
{
    std::uint64_t free = 5000;
    auto& volume = volumes.add("/v/", 9000, 0);
    volume.freeBytes = [&] { return free; };
    CDriveInfo info(volumes);
    info.Drive("/v/");
    EXPECT_EQ(info.FreeSpace(), 5000);
    free = 4000;
    EXPECT_EQ(info.FreeSpace(), 4000);
    EXPECT_EQ(info.AvailableSpace(), 4000);
    volume.type = ov::kDriveRemovable;
    EXPECT_EQ(info.DriveTypeEx(), "Removable");
}

} // namespace
