#pragma once

#include "platform/MountTable.h"

#include <QByteArray>

#include <cstdint>

namespace ov {

// What the drive-type rules look at beyond the mount record.
struct BlockDeviceFacts
{
    bool isBlockDevice = false; // the file system lives on a block device
    bool removable = false;     // the backing disk's sysfs "removable" flag
    QByteArray deviceName;      // the kernel's name of the device: sda1, sr0, zram0, loop3
    unsigned major = 0;
};

// The names a file system gives itself.
struct VolumeIdentity
{
    QByteArray label;
    QByteArray uuid;
    QByteArray type; // as libblkid names it (ntfs for any NTFS driver); empty when unknown
};

// Which block device a mounted file system lives on and what it calls itself: the kind
// of device from sysfs, the label and UUID from udev's /dev/disk links or, where udev
// has none, from libblkid (looked up at run time; without it only udev's links count).
// These calls may read the device itself: the caller limits their time.
class BlockDevices
{
public:
    static BlockDeviceFacts factsOf(const MountRecord& mount);
    static VolumeIdentity identityOf(const MountRecord& mount, bool wantUuid);

    // Decodes udev's \xHH escapes of /dev/disk link names.
    static QByteArray decodeHexEscapes(const QByteArray& name);
    // The 32-bit serial number a volume's UUID stands for (0 for none).
    static std::uint32_t serialFromUuid(const QByteArray& uuid, const QByteArray& type);
    static int driveTypeFor(const MountRecord& mount, const BlockDeviceFacts& device);

    // Whether the medium under a mount may keep older copies of what is overwritten on it
    // whatever the file system does: flash (not rotating), removable media, and virtual
    // disks whose nature cannot be told; through partitions, device-mapper and RAID
    // members, and loop devices down to the device holding their image.
    static bool mayKeepOldCopies(const MountRecord& mount);
    static bool mayKeepOldCopies(unsigned major, unsigned minor, int depth = 0);
};

} // namespace ov
