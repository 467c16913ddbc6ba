#include "drive/DriveInfo.h"
#include "drive/FakeVolumes.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>

using ov::CDriveInfo;
using ov::test::FakeVolumes;

namespace {

TEST(DriveInfoTexts, FormatSizeTableInAGermanLocale)
{
    // The separators must not follow the locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    const struct
    {
        std::int64_t size;
        const char* text;
        const char* exact; // the long form's " (N bytes)", from 1 KB on
    } rows[] = {
        {0, "0 bytes", nullptr},
        {1, "1 byte", nullptr},
        {1023, "1,023 bytes", nullptr},
        {-1234567, "-1,234,567 bytes", nullptr}, // negative: bytes, never the long part
        {1024, "1.00 KB", "1,024"},
        {10240, "10.0 KB", "10,240"},
        {102400, "100 KB", "102,400"},
        {1023999, "1000 KB", "1,023,999"},
        {1024000, "0.98 MB", "1,024,000"},
        {10240000, "9.8 MB", "10,240,000"},
        {102400000, "98 MB", "102,400,000"},
        {1610612736, "1.50 GB", "1,610,612,736"},
        // From 10,000,000 KB on one decimal, from 100,000,000 KB on none.
        {10239999999LL, "9.54 GB", "10,239,999,999"},
        {10240000000LL, "9.5 GB", "10,240,000,000"},
        {102399999999LL, "95.4 GB", "102,399,999,999"},
        {102400000000LL, "95 GB", "102,400,000,000"},
        {CDriveInfo::kMaxByteCount, "858993 GB", "922,337,203,685,477"},
        // Exact halves round away from zero.
        {1152, "1.13 KB", "1,152"},
        {10496, "10.3 KB", "10,496"},
        {102912, "101 KB", "102,912"},
    };
    for (const auto& row : rows) {
        const QString text = QString::fromLatin1(row.text);
        EXPECT_EQ(CDriveInfo::FormatSize(row.size, false), text) << row.size;
        EXPECT_EQ(CDriveInfo::FormatSize(row.size, true),
                  row.exact ? text + " (" + row.exact + " bytes)" : text)
            << row.size;
    }
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
}

TEST(DriveInfoTexts, CutAtNulNulBlanksAndPlainText)
{
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray("DATA\0junk", 9)), "DATA");
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray("\0DATA", 5)), "");
    EXPECT_EQ(CDriveInfo::CutAtNul("  MY DISK  "), "MY DISK"); // trimmed only without a NUL
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray(" A \0 ", 5)), " A ");
}

class DriveInfoTest : public ::testing::Test
{
protected:
    FakeVolumes volumes;
};

TEST_F(DriveInfoTest, DriveTakesPathsEntryTextsAndRootPaths)
{
    volumes.add("/", 1, 1);
    volumes.add("/media/usb/", 1, 1);
    volumes.missing = {"/media/gone", "/nowhere"};
    CDriveInfo info(volumes);
    EXPECT_EQ(info.Drive(), "/") << "the volume of the current folder";
    const std::pair<const char*, const char*> rows[] = {
        {"/media/usb/photos/2020", "/media/usb/"},
        {"/media/usb", "/media/usb/"},
        {"/", "/"},
        {"/media/gone [HOLIDAY]", "/media/gone/"}, // a gone mount's entry: the label goes
        {"/nowhere", "/nowhere/"},
        {"/nowhere/", "/nowhere/"},
    };
    for (auto [given, root] : rows) {
        info.Drive(given);
        EXPECT_EQ(info.Drive(), root) << given;
    }
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.DriveType(), ov::kDriveNoRootDir);
    info.setRootPath("/media/usb");
    EXPECT_EQ(info.Drive(), "/media/usb/");
    EXPECT_TRUE(info.Present());
}

TEST_F(DriveInfoTest, FactsSerialNumbersFlagsAndFailedQueries)
{
    auto& volume = volumes.add("/v/", 4096, 2048);
    volume.facts->label = QByteArray("BACKUP\0\0\0", 9);
    volume.facts->fileSystem = QByteArray("btrfs\0", 6);
    volume.facts->maxComponentLength = 255;
    volume.facts->flags = ov::kVolumeIsCompressed | ov::kCaseSensitiveSearch;
    CDriveInfo info(volumes);
    info.Drive("/v/");
    EXPECT_EQ(info.Label(), "BACKUP");
    EXPECT_EQ(info.FileSystem(), "btrfs");
    EXPECT_EQ(info.MaxFilenameLength(), 255);
    EXPECT_TRUE(info.FileSystemFlag(0x8001));
    EXPECT_FALSE(info.FileSystemFlag(0x8002)) << "every bit asked for must be set";
    const struct
    {
        std::uint32_t serial;
        const char* ex;
        const char* plain;
    } serials[] = {
        {0xDEADBEEF, "DEAD-BEEF", "-559038737"}, {0x1A2B, "0000-1A2B", "6699"}, {0, "", "0"}};
    for (const auto& row : serials) {
        volume.facts->serialNumber = row.serial;
        info.Refresh();
        EXPECT_EQ(info.SerialNumberEx(), row.ex);
        EXPECT_EQ(info.SerialNumber(), row.plain);
    }
    // The volume facts fail: they are cleared, though the space still answers.
    volume.facts.reset();
    info.Refresh();
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.Label(), "");
    EXPECT_EQ(info.FileSystemFlags(), 0u);
    EXPECT_EQ(info.FreeSpace(), 2048);
    EXPECT_TRUE(info.Present()) << "the space query decides it";
    // The space fails (the medium was taken out): zeros, not stale figures.
    volume.space.reset();
    EXPECT_EQ(info.FreeSpace(), 0);
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.TotalSpace(), 0);
    EXPECT_EQ(info.AvailableSpace(), 0);
}

TEST_F(DriveInfoTest, ByteCountsOverflowAboveTheLimit)
{
    const std::int64_t max = CDriveInfo::kMaxByteCount;
    auto& volume = volumes.add("/", 0, 0);
    volume.space = ov::SpaceFigures{std::uint64_t(max) + 1, 1, 1};
    CDriveInfo start(volumes);
    ASSERT_TRUE(start.startFailure()) << "an overflow at class start is kept, not thrown";
    EXPECT_EQ(start.startFailure()->code(), EOVERFLOW);
    EXPECT_FALSE(start.Present());
    volume.space = ov::SpaceFigures{std::uint64_t(max) - 1, std::uint64_t(max), 0};
    CDriveInfo info(volumes);
    EXPECT_EQ(info.TotalSpace(), max);
    EXPECT_EQ(info.AvailableSpace(), max - 1);
    volume.space->freeBytes = std::uint64_t(max) + 1;
    try {
        info.FreeSpace();
        ADD_FAILURE() << "no overflow";
    } catch (const ov::Error& error) {
        EXPECT_EQ(error.code(), EOVERFLOW);
        EXPECT_EQ(error.path(), "/");
    }
    EXPECT_FALSE(info.Present());
}

TEST_F(DriveInfoTest, ClusterCountsInSigned32Bits)
{
    volumes.extended = false;
    auto& volume = volumes.add("/fat/", 0, 0);
    // 524,287 clusters of 4 KiB are 2,147,479,552 bytes, still in range.
    volume.clusters = ov::ClusterFigures{8, 512, 1000, 524287};
    CDriveInfo info(volumes);
    info.Drive("/fat/");
    EXPECT_TRUE(info.Present());
    EXPECT_EQ(info.TotalSpace(), 2147479552LL);
    EXPECT_EQ(info.FreeSpace(), 4096000);
    // One more cluster is 2^31 bytes: an overflow, raised to the caller.
    volume.clusters->totalClusters = 524288;
    EXPECT_THROW(info.Refresh(), ov::Error);
    EXPECT_FALSE(info.Present());
    // So is a free count that overflows after a total that fits.
    volume.clusters = ov::ClusterFigures{64, 512, 0x10000, 100};
    EXPECT_THROW(info.FreeSpace(), ov::Error);
    EXPECT_EQ(info.TotalSpace(), 3276800);
}

} // namespace
