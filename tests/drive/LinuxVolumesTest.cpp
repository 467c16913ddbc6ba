#include "platform/LinuxVolumes.h"
#include "drive/DriveInfo.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/mount.h>

using ov::LinuxVolumes;
using ov::MountRecord;

namespace {

TEST(DriveMountInfo, FieldsEscapesAndStackedMounts)
{
    const std::vector<MountRecord> table = LinuxVolumes::parseMountInfo(
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
        "45 27 7:0 / /media/My\\040Disk\\134x rw,nosuid shared:5 master:2 - vfat /dev/loop0 "
        "ro,fmask=0022\n"
        "50 27 0:41 /sub /srv rw - btrfs /dev/sdb2 rw,compress=zstd:3\n"
        "garbage line\n"
        "51 50 0:50 / /srv rw - tmpfs tmpfs rw\n");
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[0].major, 254u);
    EXPECT_FALSE(table[0].readOnly());
    EXPECT_EQ(table[1].mountPoint, "/media/My Disk\\x");
    EXPECT_EQ(table[1].source, "/dev/loop0");
    EXPECT_TRUE(table[1].readOnly()) << "read-only super block";
    EXPECT_EQ(table[2].root, "/sub");
    EXPECT_TRUE(table[2].hasOption("compress"));
    EXPECT_FALSE(table[2].hasOption("compress-force"));
    EXPECT_EQ(LinuxVolumes::findRoot(table, "/media/My Disk\\x/"), &table[1]);
    EXPECT_EQ(LinuxVolumes::findRoot(table, "/srv/"), &table[3]) << "the top of a stack";
    EXPECT_EQ(LinuxVolumes::findRoot(table, "/media/"), nullptr);
    EXPECT_EQ(LinuxVolumes::decodeHexEscapes("My\\x20Stick\\x2f1"), "My Stick/1");
}

TEST(DriveVolumeRules, SerialsFlagsAndDriveTypes)
{
    EXPECT_EQ(LinuxVolumes::serialFromUuid("1A2B-3C4D", "vfat"), 0x1A2B3C4Du);
    EXPECT_EQ(LinuxVolumes::serialFromUuid("0123456789ABCDEF", "ntfs"), 0x89ABCDEFu);
    EXPECT_EQ(LinuxVolumes::serialFromUuid("a1b2c3d4-e5f6-4711-8899-aabbccddeeff", "ext4"),
              0xA1B2C3D4u);
    EXPECT_EQ(LinuxVolumes::serialFromUuid("", "ext4"), 0u);

    MountRecord mount;
    mount.fileSystem = "btrfs";
    EXPECT_FALSE(LinuxVolumes::flagsFor(mount, false) & ov::kVolumeIsCompressed);
    mount.superOptions = "rw,compress-force=zstd";
    EXPECT_EQ(LinuxVolumes::flagsFor(mount, true),
              0x3u | ov::kVolumeIsCompressed | ov::kReadOnlyVolume);
    mount.fileSystem = "vfat";
    mount.superOptions.clear();
    mount.mountOptions = "ro,noatime";
    EXPECT_EQ(LinuxVolumes::flagsFor(mount, false), ov::kCasePreservedNames | ov::kReadOnlyVolume);

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
        EXPECT_EQ(LinuxVolumes::driveTypeFor(record, device), type) << fileSystem << name;
    }
    EXPECT_TRUE(LinuxVolumes::isPseudoFileSystem("cgroup2"));
    EXPECT_FALSE(LinuxVolumes::isPseudoFileSystem("tmpfs"));
}

TEST(DriveLinuxVolumes, RootsThatAreNoMountRoots)
{
    ov::DirectEventLoop loop;
    LinuxVolumes volumes(loop);
    EXPECT_TRUE(volumes.querySpaceEx("/"));
    // Neither a missing folder nor one that is no mount root stands for a volume.
    ov::test::TempDir dir;
    for (const QByteArray& root : {QByteArray("/no/such/folder/"), dir.path() + "/"}) {
        EXPECT_EQ(volumes.driveType(root), ov::kDriveNoRootDir) << root.data();
        EXPECT_FALSE(volumes.querySpaceEx(root));
        EXPECT_FALSE(volumes.queryVolume(root));
    }
    EXPECT_FALSE(volumes.mountPointOf("/no/such/folder"));
}

// A loop on which no call ends in time, as on a hung network mount.
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

TEST(DriveLinuxVolumes, AVolumeThatDoesNotAnswerIsNotPresentAndNotAskedAgain)
{
    HungLoop loop;
    LinuxVolumes volumes(loop);
    ov::CDriveInfo info(volumes);
    info.setRootPath("/");
    EXPECT_FALSE(info.Present());
    const int calls = loop.calls;
    EXPECT_EQ(info.FreeSpace(), 0);
    EXPECT_EQ(loop.calls, calls) << "the query still hanging is not started again";
    EXPECT_EQ(info.DriveType(), ov::kDriveFixed) << "the type needs no answer from the volume";
}

TEST(DriveMountedVolumes, Ext4LabelSerialReadOnlyAndDetached)
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
    ov::DirectEventLoop loop;
    LinuxVolumes volumes(loop);
    const QByteArray root = mount->mountPoint() + "/";
    auto facts = volumes.queryVolume(root);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->label, "OV TEST");
    EXPECT_EQ(facts->fileSystem, "ext4");
    EXPECT_EQ(facts->maxComponentLength, 255u);
    EXPECT_EQ(facts->flags, 0x3u);
    bool listed = false;
    for (const ov::MountEntry& entry : volumes.mounts())
        listed = listed || entry.entryText() == mount->mountPoint() + " [OV TEST]";
    EXPECT_TRUE(listed);

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
