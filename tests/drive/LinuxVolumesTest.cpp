#include "platform/LinuxVolumes.h"
#include "drive/DriveInfo.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/mount.h>

using ov::LinuxVolumes;
using ov::MountRecord;

namespace {

TEST(MountInfo, FieldsEscapesAndOptionalFields)
{
    const QByteArray text =
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
        "45 27 7:0 / /media/My\\040Disk\\134x rw,nosuid shared:5 master:2 - vfat /dev/loop0 "
        "ro,fmask=0022\n"
        "50 27 0:41 /sub /srv rw - btrfs /dev/sdb2 rw,compress=zstd:3\n"
        "garbage line\n";
    const std::vector<MountRecord> table = LinuxVolumes::parseMountInfo(text);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].mountPoint, "/");
    EXPECT_EQ(table[0].major, 254u);
    EXPECT_EQ(table[1].mountPoint, "/media/My Disk\\x");
    EXPECT_EQ(table[1].fileSystem, "vfat");
    EXPECT_EQ(table[1].source, "/dev/loop0");
    EXPECT_EQ(table[1].minor, 0u);
    EXPECT_TRUE(table[1].readOnly()) << "read-only super block";
    EXPECT_FALSE(table[0].readOnly());
    EXPECT_EQ(table[2].root, "/sub");
    EXPECT_TRUE(table[2].hasOption("compress"));
    EXPECT_FALSE(table[2].hasOption("compress-force"));

    EXPECT_EQ(LinuxVolumes::findRoot(table, "/media/My Disk\\x/"), &table[1]);
    EXPECT_EQ(LinuxVolumes::findRoot(table, "/srv"), &table[2]);
    EXPECT_EQ(LinuxVolumes::findRoot(table, "/media/"), nullptr);
    EXPECT_EQ(LinuxVolumes::decodeHexEscapes("My\\x20Stick\\x2f1"), "My Stick/1");
}

TEST(MountInfo, StackedMountsTheTopOneCounts)
{
    const std::vector<MountRecord> table = LinuxVolumes::parseMountInfo(
        "1 0 8:1 / /mnt rw - ext4 /dev/sda1 rw\n2 1 0:50 / /mnt rw - tmpfs tmpfs rw\n");
    ASSERT_NE(LinuxVolumes::findRoot(table, "/mnt/"), nullptr);
    EXPECT_EQ(LinuxVolumes::findRoot(table, "/mnt/")->fileSystem, "tmpfs");
}

TEST(VolumeRules, SerialFromUuid)
{
    EXPECT_EQ(LinuxVolumes::serialFromUuid("1A2B-3C4D", "vfat"), 0x1A2B3C4Du);
    EXPECT_EQ(LinuxVolumes::serialFromUuid("0a0b-0c0d", "exfat"), 0x0A0B0C0Du);
    EXPECT_EQ(LinuxVolumes::serialFromUuid("0123456789ABCDEF", "ntfs"), 0x89ABCDEFu);
    EXPECT_EQ(LinuxVolumes::serialFromUuid("a1b2c3d4-e5f6-4711-8899-aabbccddeeff", "ext4"),
              0xA1B2C3D4u);
    EXPECT_EQ(LinuxVolumes::serialFromUuid("", "ext4"), 0u);
}

TEST(VolumeRules, FlagsByTypeAndOptions)
{
    MountRecord mount;
    mount.fileSystem = "squashfs";
    EXPECT_TRUE(LinuxVolumes::flagsFor(mount, false) & ov::kVolumeIsCompressed);
    mount.fileSystem = "btrfs";
    EXPECT_FALSE(LinuxVolumes::flagsFor(mount, false) & ov::kVolumeIsCompressed);
    mount.superOptions = "rw,compress-force=zstd";
    EXPECT_TRUE(LinuxVolumes::flagsFor(mount, false) & ov::kVolumeIsCompressed);
    EXPECT_EQ(LinuxVolumes::flagsFor(mount, false) & 0x3u, 0x3u);
    EXPECT_FALSE(LinuxVolumes::flagsFor(mount, false) & ov::kReadOnlyVolume);
    EXPECT_TRUE(LinuxVolumes::flagsFor(mount, true) & ov::kReadOnlyVolume);
    mount.fileSystem = "vfat";
    mount.superOptions.clear();
    mount.mountOptions = "ro,noatime";
    EXPECT_EQ(LinuxVolumes::flagsFor(mount, false), ov::kCasePreservedNames | ov::kReadOnlyVolume);
}

TEST(VolumeRules, DriveTypes)
{
    MountRecord mount;
    ov::BlockDeviceFacts device;
    mount.fileSystem = "fuse.weird";
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveUnknown);
    mount.fileSystem = "nfs4";
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveRemote);
    mount.fileSystem = "fuse.sshfs";
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveRemote);
    mount.fileSystem = "tmpfs";
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveRamDisk);
    mount.fileSystem = "iso9660";
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveCdRom);

    mount.fileSystem = "ext4";
    device.isBlockDevice = true;
    device.deviceName = "sda1";
    device.major = 8;
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveFixed);
    device.removable = true;
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveRemovable);
    device.removable = false;
    device.deviceName = "zram0";
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveRamDisk);
    device.deviceName = "sr0";
    device.major = 11;
    mount.fileSystem = "udf";
    EXPECT_EQ(LinuxVolumes::driveTypeFor(mount, device), ov::kDriveCdRom);

    EXPECT_TRUE(LinuxVolumes::isPseudoFileSystem("cgroup2"));
    EXPECT_TRUE(LinuxVolumes::isPseudoFileSystem("proc"));
    EXPECT_FALSE(LinuxVolumes::isPseudoFileSystem("tmpfs"));
    EXPECT_FALSE(LinuxVolumes::isPseudoFileSystem("ext4"));
}

TEST(LinuxVolumes, HasExportLooksAndUnloadsWhatItLoaded)
{
    ov::DirectEventLoop loop;
    LinuxVolumes volumes(loop);
    EXPECT_TRUE(volumes.hasExport("libc.so.6", "statvfs64"));
    EXPECT_FALSE(volumes.hasExport("libc.so.6", "no_such_function_here"));
    EXPECT_FALSE(volumes.hasExport("libno-such-library.so.9", "statvfs64"));

    // A library the process has not loaded is loaded for the question only.
    for (const char* library : {"libanl.so.1", "libutil.so.1", "libnss_files.so.2"}) {
        if (void* loaded = ::dlopen(library, RTLD_LAZY | RTLD_NOLOAD)) {
            ::dlclose(loaded);
            continue;
        }
        void* probe = ::dlopen(library, RTLD_LAZY | RTLD_LOCAL);
        if (!probe)
            continue;
        ::dlclose(probe);
        volumes.hasExport(library, "no_such_function_here");
        void* after = ::dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
        EXPECT_EQ(after, nullptr) << library << " stayed loaded";
        if (after)
            ::dlclose(after);
        return;
    }
    GTEST_SKIP() << "no unloaded library to try";
}

TEST(LinuxVolumes, TheRootFileSystemAndMissingRoots)
{
    ov::DirectEventLoop loop;
    LinuxVolumes volumes(loop);
    auto space = volumes.querySpaceEx("/");
    ASSERT_TRUE(space);
    EXPECT_GT(space->totalBytes, 0u);
    EXPECT_GE(space->freeBytes, space->availableBytes);
    EXPECT_TRUE(volumes.queryVolume("/"));
    EXPECT_EQ(volumes.mountPointOf("/"), QByteArray("/"));

    EXPECT_EQ(volumes.driveType("/no/such/folder/"), ov::kDriveNoRootDir);
    EXPECT_FALSE(volumes.querySpaceEx("/no/such/folder/"));
    EXPECT_FALSE(volumes.queryVolume("/no/such/folder/"));
    EXPECT_FALSE(volumes.mountPointOf("/no/such/folder"));
    // A folder that is no mount root does not stand for the volume around it.
    ov::test::TempDir dir;
    EXPECT_EQ(volumes.driveType(dir.path() + "/"), ov::kDriveNoRootDir);
    EXPECT_FALSE(volumes.querySpaceEx(dir.path() + "/"));
    EXPECT_FALSE(volumes.setLabel("/", "X"));
    for (const ov::MountEntry& entry : volumes.mounts())
        EXPECT_FALSE(LinuxVolumes::isPseudoFileSystem(entry.fileSystem)) << entry.mountPoint.data();
}

// A loop that never lets a call finish in time, as a hung network mount would.
class HungLoop : public ov::DirectEventLoop
{
public:
    bool runBlockingFor(std::function<void()>, std::chrono::milliseconds) override
    {
        ++calls;
        return false;
    }
    int calls = 0;
};

TEST(LinuxVolumes, AVolumeThatDoesNotAnswerIsNotPresentAndNotAskedAgain)
{
    HungLoop loop;
    LinuxVolumes volumes(loop);
    ov::CDriveInfo info(volumes);
    info.setRootPath("/");
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.FreeSpace(), 0);
    const int calls = loop.calls;
    EXPECT_EQ(info.FreeSpace(), 0);
    EXPECT_EQ(loop.calls, calls) << "the query still hanging is not started again";
    EXPECT_EQ(info.DriveType(), ov::kDriveFixed) << "the type needs no answer from the volume";
}

class MountedVolumes : public ::testing::Test
{
protected:
    ov::DirectEventLoop loop;
    LinuxVolumes volumes{loop};
};

TEST_F(MountedVolumes, Ext4LabelSerialAndEntryText)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 32 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    ASSERT_TRUE(mount->unmount());
    ASSERT_TRUE(
        ov::test::runTool("tune2fs", {"-L", "OV TEST", "-U", "a1b2c3d4-e5f6-4711-8899-aabbccddeeff",
                                      QFile::decodeName(mount->imagePath())}));
    ASSERT_TRUE(mount->remount());
    const QByteArray root = mount->mountPoint() + "/";

    auto facts = volumes.queryVolume(root);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->label, "OV TEST");
    EXPECT_EQ(facts->fileSystem, "ext4");
    EXPECT_EQ(facts->serialNumber, 0xA1B2C3D4u);
    EXPECT_EQ(facts->maxComponentLength, 255u);
    EXPECT_EQ(facts->flags & 0x3u, 0x3u);
    EXPECT_EQ(volumes.driveType(root), ov::kDriveFixed);

    bool listed = false;
    for (const ov::MountEntry& entry : volumes.mounts()) {
        if (entry.mountPoint == mount->mountPoint()) {
            listed = true;
            EXPECT_EQ(entry.entryText(), mount->mountPoint() + " [OV TEST]");
        }
    }
    EXPECT_TRUE(listed);

    ov::CDriveInfo info(volumes);
    info.Drive(mount->mountPoint() + "/lost+found");
    EXPECT_EQ(info.Drive(), root);
    EXPECT_TRUE(info.Present());
    EXPECT_EQ(info.SerialNumberEx(), "A1B2-C3D4");
    EXPECT_EQ(info.DriveTypeEx(), "Fixed");
    EXPECT_FALSE(info.FileSystemFlag(0x8000));
    EXPECT_GT(info.FreeSpace(), info.AvailableSpace()) << "root's reserve counts as free";

    // Read-only: the flag; lazily unmounted: no root directory any more.
    ASSERT_TRUE(mount->unmount());
    ASSERT_TRUE(mount->remount("ro"));
    info.Refresh();
    EXPECT_TRUE(info.FileSystemFlag(ov::kReadOnlyVolume));
    ASSERT_EQ(::umount2(mount->mountPoint().constData(), MNT_DETACH), 0);
    info.Refresh();
    EXPECT_FALSE(info.Present());
    EXPECT_EQ(info.DriveType(), ov::kDriveNoRootDir);
    EXPECT_EQ(info.Drive(), root);
}

TEST_F(MountedVolumes, TmpfsWithABlankInItsMountPoint)
{
    if (!ov::test::runningAsRoot())
        GTEST_SKIP() << "mounting needs root";
    ov::test::TempDir dir;
    const QByteArray point = dir.path() + "/RAM disk";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(point)));
    ASSERT_EQ(::mount("tmpfs", point.constData(), "tmpfs", 0, "size=1m"), 0);
    const QByteArray root = point + "/";
    EXPECT_EQ(volumes.driveType(root), ov::kDriveRamDisk);
    auto space = volumes.querySpaceEx(root);
    ASSERT_TRUE(space);
    EXPECT_EQ(space->totalBytes, 1u << 20);
    auto facts = volumes.queryVolume(root);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->fileSystem, "tmpfs");
    EXPECT_EQ(facts->serialNumber, 0u);
    EXPECT_EQ(volumes.mountPointOf(point + "/"), point);
    bool listed = false;
    for (const ov::MountEntry& entry : volumes.mounts())
        listed = listed || entry.entryText() == point;
    EXPECT_TRUE(listed);
    ::umount2(point.constData(), MNT_DETACH);
}

TEST_F(MountedVolumes, BtrfsCompressedAndXfs)
{
    QString why;
    auto btrfs = ov::test::LoopMount::create("btrfs", 128 << 20, &why, "compress=zstd");
    if (!btrfs)
        GTEST_SKIP() << why.toStdString();
    auto facts = volumes.queryVolume(btrfs->mountPoint() + "/");
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->fileSystem, "btrfs");
    EXPECT_TRUE(facts->flags & ov::kVolumeIsCompressed);
    EXPECT_NE(facts->serialNumber, 0u) << "from the file system's UUID";
    EXPECT_EQ(volumes.driveType(btrfs->mountPoint() + "/"), ov::kDriveFixed);

    auto xfs = ov::test::LoopMount::create("xfs", 300 << 20, &why);
    if (!xfs)
        GTEST_SKIP() << why.toStdString();
    facts = volumes.queryVolume(xfs->mountPoint() + "/");
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->fileSystem, "xfs");
    EXPECT_FALSE(facts->flags & ov::kVolumeIsCompressed);
}

} // namespace
