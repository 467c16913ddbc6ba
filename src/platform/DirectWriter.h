#pragma once

#include "platform/Descriptor.h"
#include "platform/Files.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>

namespace ov::fs {

// Writes one long stretch of a file past the page cache, in large aligned writes: what
// feeds a disk at its own speed, where buffered writes keep the processor copying into the
// cache (and, on a loop device, into the image's cache once more) while the write-back
// trails behind.
class DirectWriter
{
public:
    // The alignment of every direct write's offset, length and memory; 4 KiB suits every
    // device in use (larger ones are not written this way).
    static constexpr std::int64_t kAlign = 4096;

    // `file` opened a second time (the same inode, whatever its name leads to now) for
    // writing past the cache; nothing where the file system does not write that way
    // (tmpfs, FUSE, ext4 journalling its data), asks for a larger alignment, or places
    // such writes elsewhere than a common writer's (see the .cpp).
    static std::optional<DirectWriter> forFile(const File& file);

    DirectWriter(DirectWriter&&) noexcept = default;
    DirectWriter& operator=(DirectWriter&&) noexcept = default;

    struct Outcome
    {
        std::int64_t written = 0;
        int failure = 0; // errno of the write that ended the stretch, or 0
        // The file system refused a direct write it had no room or no way for: what is
        // left is for buffered writes.
        bool refused = false;
    };
    // Writes `length` bytes at `at` (both multiples of kAlign) in order, in writes of
    // `pieceBytes` (a multiple of kAlign), each taken from the start of `source` (aligned,
    // at least pieceBytes long). A write is started only while `goOn` says so; the first
    // always is.
    Outcome write(std::int64_t at, std::int64_t length, const char* source, std::int64_t pieceBytes,
                  const std::function<bool()>& goOn);

private:
    DirectWriter(Descriptor fd) : m_fd(std::move(fd)) {}
    Descriptor m_fd;
};

} // namespace ov::fs
