#pragma once

#include "platform/Files.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace ov::fs {

// Where a stretch of a file's bytes lies on its volume, as the file system says (FIEMAP).
struct Extent
{
    off_t logical = 0;  // offset in the file
    off_t physical = 0; // offset on the volume's device
    off_t length = 0;
    std::uint32_t flags = 0;

    // Other files (reflinks, snapshots, deduplicated copies) own these blocks too.
    bool shared() const;
    // Allocated but never written: the blocks hold none of the file's data.
    bool unwritten() const;
    // The physical offset cannot be taken at its word: not yet placed, compressed,
    // encrypted, stored inline in metadata, or not known.
    bool opaque() const;
    // Kept inside the file system's metadata (an inode or a tree leaf), not in blocks of
    // its own.
    bool inlineData() const;
    // Stored in another form than the file's bytes (compressed).
    bool encoded() const;
    // Encrypted on the device: the bytes there are not the file's bytes.
    bool encrypted() const;
    friend bool operator==(const Extent&, const Extent&) = default;
};

// The file's extents over [from, to), flushed first (FIEMAP_FLAG_SYNC) so that nothing
// is left to be placed. Nothing when the file system cannot say (tmpfs, most network and
// FUSE file systems).
// The file's own flags (FS_IOC_GETFLAGS): FS_NOCOW_FL, FS_COMPR_FL, FS_JOURNAL_DATA_FL...;
// nothing when the file system keeps none.
std::optional<unsigned> inodeFlagsOf(const File& file, BlockingRunner& runner);

std::optional<std::vector<Extent>> extentsOf(const File& file, off_t from, off_t to,
                                             BlockingRunner& runner);

} // namespace ov::fs
