#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

namespace ov {

// The snapshots of the btrfs file system mounted at `mountRoot`, each by its path: from
// the file system's top level when this user may search the whole file system (root), or
// under the mount point otherwise (only the snapshots inside the mounted subvolume are
// visible then). A snapshot keeps the data of every file deleted since it was taken, out
// of reach of any overwriting of the free space. Nothing for another file system or when
// the mount root cannot be opened.
std::optional<std::vector<QByteArray>> btrfsSnapshots(const QByteArray& mountRoot);

} // namespace ov
