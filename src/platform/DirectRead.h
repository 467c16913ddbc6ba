#pragma once

#include "platform/BlockingRunner.h"
#include "platform/Descriptor.h"

#include <QByteArray>

#include <optional>
#include <sys/types.h>

namespace ov::fs {

class Folder;

// Reads bytes as they are on the disk, past every cache: a file opened for direct reading,
// or the block device a volume lives on.
class DirectReader
{
public:
    // The file `name` of a held folder, opened for direct reading; nothing when the file
    // system cannot read past its cache (tmpfs, most FUSE file systems). The file must be
    // the one with `expected` device and inode.
    static std::optional<DirectReader> forFile(const Folder& folder, const QByteArray& name,
                                               dev_t device, ino_t inode, BlockingRunner& runner);
    // The block device that holds the file system of `device` (as st_dev gives it), or, for
    // a loop device, its backing file where that may be read; nothing when this user may
    // not read either.
    static std::optional<DirectReader> forVolume(dev_t device, BlockingRunner& runner);

    DirectReader(DirectReader&&) noexcept = default;
    DirectReader& operator=(DirectReader&&) noexcept = default;

    // Reads `length` bytes from `at` (aligned reads underneath, as direct reading needs).
    QByteArray read(off_t at, size_t length) const;
    // Whether the `length` bytes from `at` are all `byte` (and are there to read): large
    // aligned reads, several in flight, stopping at the first other byte.
    bool holds(off_t at, off_t length, char byte) const;
    // The same, blocking the calling thread: for a unit already handed off, or a thread of
    // its own that reads back beside others.
    bool holdsHere(off_t at, off_t length, char byte) const;
    const QByteArray& path() const { return m_path; }

private:
    DirectReader(Descriptor fd, QByteArray path, off_t base, BlockingRunner& runner)
        : m_fd(std::move(fd)), m_path(std::move(path)), m_base(base), m_runner(&runner)
    {}
    Descriptor m_fd;
    QByteArray m_path;
    off_t m_base = 0; // where offset 0 of the volume is in what is read
    BlockingRunner* m_runner = nullptr;
};

} // namespace ov::fs
