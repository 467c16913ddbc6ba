#include "drive/DriveInfo.h"
#include "drive/FakeVolumes.h"
#include "platform/BlockDevices.h"
#include "platform/LinuxVolumes.h"
#include "platform/MountTable.h"
#include "platform/TimedQueries.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QFile>
#include <QLocale>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cerrno>
#include <clocale>
#include <condition_variable>
#include <mutex>
#include <sys/mount.h>
#include <thread>

using ov::BlockDevices;
using ov::CDriveInfo;
using ov::LinuxVolumes;
using ov::MountRecord;
using ov::MountTable;
using ov::test::FakeVolumes;

namespace {

TEST(DriveInfoTexts, FormatSizeTableInAGermanLocaleAndCutAtNul)
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

    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray("DATA\0junk", 9)), "DATA");
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray("\0DATA", 5)), "");
    EXPECT_EQ(CDriveInfo::CutAtNul("  MY DISK  "), "MY DISK"); // trimmed only without a NUL
    EXPECT_EQ(CDriveInfo::CutAtNul(QByteArray(" A \0 ", 5)), " A ");
}

TEST(DriveInfo, DriveTakesPathsThenFactsSerialNumbersFlagsAndFailedQueries)
{
    FakeVolumes volumes;
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
        {"/nowhere/", "/nowhere/"}};
    for (auto [given, root] : rows) {
        info.Drive(given);
        EXPECT_EQ(info.Drive(), root) << given;
    }
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.DriveType(), ov::kDriveNoRootDir);
    info.setRootPath("/media/usb");
    EXPECT_EQ(info.Drive(), "/media/usb/");
    EXPECT_TRUE(info.Present());

    // The facts, serial numbers and flags, then failing queries.
    auto& volume = volumes.add("/v/", 4096, 2048);
    volume.facts->label = QByteArray("BACKUP\0\0\0", 9);
    volume.facts->fileSystem = QByteArray("btrfs\0", 6);
    volume.facts->maxComponentLength = 255;
    volume.facts->flags = ov::kVolumeIsCompressed | ov::kCaseSensitiveSearch;
    info.Drive("/v/");
    EXPECT_EQ(info.Label(), "BACKUP");
    EXPECT_EQ(info.FileSystem(), "btrfs");
    EXPECT_EQ(info.MaxFilenameLength(), 255);
    EXPECT_TRUE(info.FileSystemFlag(0x8001));
    EXPECT_FALSE(info.FileSystemFlag(0x8002)) << "every bit asked for must be set";
    const std::tuple<std::uint32_t, const char*, const char*> serials[] = {
        {0xDEADBEEF, "DEAD-BEEF", "-559038737"}, {0x1A2B, "0000-1A2B", "6699"}, {0, "", "0"}};
    for (auto [serial, ex, plain] : serials) {
        volume.facts->serialNumber = serial;
        info.Refresh();
        EXPECT_EQ(info.SerialNumberEx(), ex);
        EXPECT_EQ(info.SerialNumber(), plain);
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

TEST(DriveInfo, ByteCountsOverflowAboveTheLimitAndClusterCountsAbove32Bits)
{
    FakeVolumes volumes;
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
    EXPECT_THAT([&] { info.FreeSpace(); },
                testing::Throws<ov::Error>(
                    testing::AllOf(testing::Property(&ov::Error::code, EOVERFLOW),
                                   testing::Property(&ov::Error::path, QByteArray("/")))));
    EXPECT_FALSE(info.Present());

    // The cluster-count fallback: 524,287 clusters of 4 KiB still fit in signed 32 bits.
    volumes.extended = false;
    volume.clusters = ov::ClusterFigures{8, 512, 1000, 524287};
    CDriveInfo fat(volumes);
    EXPECT_TRUE(fat.Present());
    EXPECT_EQ(fat.TotalSpace(), 2147479552LL);
    EXPECT_EQ(fat.FreeSpace(), 4096000);
    // One more cluster is 2^31 bytes: an overflow, raised to the caller.
    volume.clusters->totalClusters = 524288;
    EXPECT_THROW(fat.Refresh(), ov::Error);
    EXPECT_FALSE(fat.Present());
    // So is a free count that overflows after a total that fits.
    volume.clusters = ov::ClusterFigures{64, 512, 0x10000, 100};
    EXPECT_THROW(fat.FreeSpace(), ov::Error);
    EXPECT_EQ(fat.TotalSpace(), 3276800);
}

TEST(DriveLinuxVolumes, MountInfoFieldsEscapesStacksSerialsFlagsAndDriveTypes)
{
    const MountTable mounts = MountTable::parse(
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
        "45 27 7:0 / /media/My\\040Disk\\134x rw,nosuid shared:5 master:2 - vfat /dev/loop0 "
        "ro,fmask=0022\n"
        "50 27 0:41 /sub /srv rw - btrfs /dev/sdb2 rw,compress=zstd:3\n"
        "garbage line\n"
        "51 50 0:50 / /srv rw - tmpfs tmpfs rw\n");
    const std::vector<MountRecord>& table = mounts.records();
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[0].major, 254u);
    EXPECT_FALSE(table[0].hasOption("ro"));
    EXPECT_EQ(table[1].mountPoint, "/media/My Disk\\x");
    EXPECT_EQ(table[1].source, "/dev/loop0");
    EXPECT_TRUE(table[1].hasOption("ro")) << "read-only super block";
    EXPECT_EQ(table[2].root, "/sub");
    EXPECT_TRUE(table[2].hasOption("compress"));
    EXPECT_FALSE(table[2].hasOption("compress-force"));
    EXPECT_EQ(mounts.findRoot("/media/My Disk\\x/"), &table[1]);
    EXPECT_EQ(mounts.findRoot("/srv/"), &table[3]) << "the top of a stack";
    EXPECT_EQ(mounts.findRoot("/media/"), nullptr);
    EXPECT_EQ(mounts.mountPointOf("/srv/www/index"), "/srv");
    EXPECT_EQ(mounts.mountPointOf("/srvx"), "/") << "a name that only begins like it";
    EXPECT_EQ(BlockDevices::decodeHexEscapes("My\\x20Stick\\x2f1"), "My Stick/1");

    EXPECT_EQ(BlockDevices::serialFromUuid("1A2B-3C4D", "vfat"), 0x1A2B3C4Du);
    EXPECT_EQ(BlockDevices::serialFromUuid("0123456789ABCDEF", "ntfs"), 0x89ABCDEFu);
    // An NTFS serial as udev's link names it, whatever driver mounted it (ntfs-3g shows
    // as fuseblk, and udev gives no type): the low 32 bits.
    EXPECT_EQ(BlockDevices::serialFromUuid("0CE4D7CA3826EDBD", "fuseblk"), 0x3826EDBDu);
    EXPECT_EQ(BlockDevices::serialFromUuid("0ce4d7ca3826edbd", ""), 0x3826EDBDu);
    EXPECT_EQ(BlockDevices::serialFromUuid("a1b2c3d4-e5f6-4711-8899-aabbccddeeff", "ext4"),
              0xA1B2C3D4u);
    EXPECT_EQ(BlockDevices::serialFromUuid("", "ext4"), 0u);

    MountRecord mount;
    mount.fileSystem = "btrfs";
    EXPECT_FALSE(MountTable::flagsFor(mount, false) & ov::kVolumeIsCompressed);
    mount.superOptions = "rw,compress-force=zstd";
    EXPECT_EQ(MountTable::flagsFor(mount, true),
              0x3u | ov::kVolumeIsCompressed | ov::kReadOnlyVolume);
    mount.fileSystem = "vfat";
    mount.superOptions.clear();
    mount.mountOptions = "ro,noatime";
    EXPECT_EQ(MountTable::flagsFor(mount, false), ov::kCasePreservedNames | ov::kReadOnlyVolume);

    // File system, device (nullptr: none), its major, removable, the type.
    const std::tuple<const char*, const char*, unsigned, bool, int> rows[] = {
        {"fuse.weird", nullptr, 0, false, ov::kDriveUnknown},
        {"nfs4", nullptr, 0, false, ov::kDriveRemote},
        {"fuse.sshfs", nullptr, 0, false, ov::kDriveRemote},
        {"tmpfs", nullptr, 0, false, ov::kDriveRamDisk},
        {"iso9660", nullptr, 0, false, ov::kDriveCdRom},
        {"ext4", "sda1", 8, false, ov::kDriveFixed},
        {"ext4", "sdb1", 8, true, ov::kDriveRemovable},
        {"ext4", "zram0", 252, false, ov::kDriveRamDisk},
        {"udf", "sr0", 11, true, ov::kDriveCdRom},
    };
    for (auto [fileSystem, name, major, removable, type] : rows) {
        MountRecord record;
        record.fileSystem = fileSystem;
        const ov::BlockDeviceFacts device{name != nullptr, removable, name, major};
        EXPECT_EQ(BlockDevices::driveTypeFor(record, device), type) << fileSystem << name;
    }
    EXPECT_TRUE(MountTable::isPseudoFileSystem("cgroup2"));
    EXPECT_FALSE(MountTable::isPseudoFileSystem("tmpfs"));
}

TEST(DriveLinuxVolumes, RootsThatAreNoMountRoots)
{
    ov::InPlaceRunner loop;
    LinuxVolumes volumes(loop);
    EXPECT_TRUE(volumes.querySpaceEx("/"));
    // Neither a missing folder nor one that is no mount root stands for a volume.
    ov::test::TempDir dir;
    for (const QByteArray& root : {QByteArray("/no/such/folder/"), dir.path() + "/"}) {
        EXPECT_EQ(volumes.driveType(root), ov::kDriveNoRootDir) << root.data();
        EXPECT_FALSE(volumes.querySpaceEx(root));
        EXPECT_FALSE(volumes.queryVolume(root));
        EXPECT_TRUE(volumes.snapshots(root).empty());
    }
    EXPECT_FALSE(volumes.mountPointOf("/no/such/folder"));
}

// A question that answers when the test lets it.
struct Gate
{
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    void release()
    {
        std::lock_guard lock(mutex);
        open = true;
        opened.notify_all();
    }
};

TEST(DriveTimedQueries, OneThreadAnswersAllAndAStuckQuestionIsNotAskedAgain)
{
    ov::InPlaceRunner loop;
    ov::TimedQueries queries(loop, std::chrono::milliseconds(400));
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(queries.ask<int>("space:/", [i] { return std::optional<int>(i); }), i);
    EXPECT_EQ(queries.threadsStarted(), 1) << "no thread per question";

    // A question that hangs (a dead server): failed after the limit, and asked again it
    // fails at once, without one more thread stuck with it.
    auto gate = std::make_shared<Gate>();
    auto hangs = [gate] {
        std::unique_lock lock(gate->mutex);
        gate->opened.wait(lock, [&] { return gate->open; });
        return std::optional<int>(7);
    };
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(queries.ask<int>("space:/hung", hangs));
    EXPECT_GE(clock.elapsed(), 390);
    clock.restart();
    EXPECT_FALSE(queries.ask<int>("space:/hung", hangs));
    EXPECT_LT(clock.elapsed(), 200) << "not waited for again";
    // Other volumes still answer, from a thread of their own.
    EXPECT_EQ(queries.ask<int>("space:/", [] { return std::optional<int>(1); }), 1);
    EXPECT_EQ(queries.threadsStarted(), 2);
    EXPECT_EQ(queries.ask<int>("space:/", [] { return std::optional<int>(2); }), 2);
    EXPECT_EQ(queries.threadsStarted(), 2);
    // Once it answers, the volume is asked again like any other.
    gate->release();
    QElapsedTimer wait;
    wait.start();
    std::optional<int> answer;
    while (!(answer = queries.ask<int>("space:/hung", [] { return std::optional<int>(8); })) &&
           wait.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(answer, 8);
    // A question that throws is a failed one, and its key is free again.
    EXPECT_FALSE(queries.ask<int>("x", []() -> std::optional<int> { throw ov::Error(EIO, "x"); }));
    EXPECT_EQ(queries.ask<int>("x", [] { return std::optional<int>(3); }), 3);
}

TEST(DriveMountedVolumes, Ext4LabelSerialReadOnlyAndDetached)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 32 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    ASSERT_TRUE(mount->unmount());
    // tune2fs changes the UUID of a checksummed file system only when it was freshly checked.
    const QString image = QFile::decodeName(mount->imagePath());
    QString output;
    ASSERT_TRUE(ov::test::runTool("e2fsck", {"-f", "-p", image}, &output)) << output.toStdString();
    ASSERT_TRUE(ov::test::runTool(
        "tune2fs", {"-L", "OV TEST", "-U", "a1b2c3d4-e5f6-4711-8899-aabbccddeeff", image}, &output))
        << output.toStdString();
    ASSERT_TRUE(mount->remount());
    ov::InPlaceRunner loop;
    LinuxVolumes volumes(loop);
    const QByteArray root = mount->mountPoint() + "/";
    auto facts = volumes.queryVolume(root);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->label, "OV TEST");
    EXPECT_EQ(facts->fileSystem, "ext4");
    EXPECT_EQ(facts->maxComponentLength, 255u);
    EXPECT_EQ(facts->flags, 0x3u);
    const auto entries = volumes.mounts();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const ov::MountEntry& entry) {
        return entry.entryText() == mount->mountPoint() + " [OV TEST]";
    }));

    ov::CDriveInfo info(volumes);
    info.Drive(mount->mountPoint() + "/lost+found");
    EXPECT_EQ(info.Drive(), root);
    EXPECT_EQ(info.SerialNumberEx(), "A1B2-C3D4");
    EXPECT_EQ(info.DriveTypeEx(), "Fixed");
    EXPECT_GT(info.FreeSpace(), info.AvailableSpace()) << "root's reserve counts as free";

    ASSERT_TRUE(mount->unmount());
    ASSERT_TRUE(mount->remount("ro"));
    info.Refresh();
    EXPECT_TRUE(info.FileSystemFlag(ov::kReadOnlyVolume));
    ASSERT_EQ(::umount2(mount->mountPoint().constData(), MNT_DETACH), 0);
    info.Refresh();
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.DriveType(), ov::kDriveNoRootDir);
}

} // namespace
