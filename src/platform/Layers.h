#pragma once

#include "platform/BlockingRunner.h"
#include "platform/Descriptor.h"
#include "platform/Files.h"
#include "platform/MountTable.h"

#include <QByteArray>
#include <QStringList>

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

// The other processes that have the file open, as "program (process N)": only those
// whose descriptors this user may look at.
QStringList holdersOf(Identity file, BlockingRunner& runner);

} // namespace ov::fs
