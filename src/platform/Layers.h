#pragma once

#include "platform/BlockingRunner.h"
#include "platform/Descriptor.h"
#include "platform/Files.h"
#include "platform/MountTable.h"

#include <QByteArray>
#include <QStringList>

#include <map>
#include <optional>
#include <sys/types.h>

namespace ov::fs {

// The mount the held entry lives on, from the mount table by the mount's own number
// (statx); nothing when the kernel does not tell it.
std::optional<MountRecord> mountOf(const Descriptor& entry, BlockingRunner& runner);

// The folder's path as the kernel resolves it now: no links, no dots.
std::optional<QByteArray> resolvedPath(const Folder& folder, BlockingRunner& runner);

// The image file of a loop device and where the volume starts in it; nothing for any
// other device.
struct LoopImage
{
    QByteArray path;
    off_t offset = 0;
};
std::optional<LoopImage> loopImageOf(unsigned major, unsigned minor);

// The device whose blocks hold a mount's data: its mountinfo numbers, or for a file
// system that reports anonymous ones (btrfs) the device named as its source.
std::optional<std::pair<unsigned, unsigned>> blockDeviceOf(const MountRecord& mount);

// What one run learns of the mounts and devices its files live on, so that a thousand
// files on one volume read the mount table and walk the device's sysfs folders once. A
// mount is found by its number, which no other mount takes while a file of it is held
// open; a number the table read last does not hold reads the table again. A remount
// during the run goes unseen, as it would after each file's own look. Used by one thread
// at a time.
class LayerCache
{
public:
    std::optional<MountRecord> mountOf(const Descriptor& entry, BlockingRunner& runner);
    // fileSystemOf(), asked once for each file system (`device`, as st_dev gives it).
    FileSystemKind kindOf(const Descriptor& entry, dev_t device, const QByteArray& path,
                          BlockingRunner& runner);

    struct Device
    {
        bool mayKeepOldCopies = false;
        std::optional<LoopImage> loop;
    };
    // Blocking (sysfs and /dev): call it on the worker. Nothing when the mount has no
    // block device.
    std::optional<Device> deviceOf(const MountRecord& mount);

private:
    std::optional<MountTable> m_table;
    std::map<std::pair<unsigned, unsigned>, Device> m_devices;
    std::map<dev_t, FileSystemKind> m_kinds;
};

// The other processes that have the file open, as "program (process N)": only those
// whose descriptors this user may look at.
QStringList holdersOf(Identity file, BlockingRunner& runner);

} // namespace ov::fs
