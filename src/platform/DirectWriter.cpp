#include "platform/DirectWriter.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace ov::fs {

namespace {

// Whether the file system writes this file past its cache with offsets, lengths and
// memory aligned to kAlign. It says so itself; where it does not, buffered writing stays.
bool writesDirectlyAligned(int fd)
{
#ifdef STATX_DIOALIGN
    struct statx facts = {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &facts) != 0 ||
        !(facts.stx_mask & STATX_DIOALIGN))
        return false;
    const auto fits = [](std::uint32_t align) {
        return align > 0 && DirectWriter::kAlign % align == 0;
    };
    return fits(facts.stx_dio_offset_align) && fits(facts.stx_dio_mem_align);
#else
    (void)fd;
    return false;
#endif
}

// Where the free space ends, every file system keeps a pool that no writer may take, a
// count and not a place: which free blocks stay unwritten depends on where the writes
// went. ext4 places direct writes in order as it places a common file's; xfs puts them
// elsewhere (by the size of each write), so that up to 4% of a deleted file written
// the common way was never reached once the volume was full. There buffered writes stay.
bool placesDirectWritesAsCommonOnes(int fd)
{
    struct statfs facts = {};
    return ::fstatfs(fd, &facts) == 0 && facts.f_type == EXT4_SUPER_MAGIC;
}

} // namespace

std::optional<DirectWriter> DirectWriter::forFile(const File& file)
{
    if (!placesDirectWritesAsCommonOnes(file.fd()) || !writesDirectlyAligned(file.fd()))
        return std::nullopt;
    struct stat before;
    if (::fstat(file.fd(), &before) != 0)
        return std::nullopt;
    // The descriptor's own link reopens the very inode, without appending: every write
    // goes to the offset it names.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(file.fd());
    Descriptor fd(::open(self.constData(), O_WRONLY | O_DIRECT | O_CLOEXEC | O_NOCTTY));
    struct stat now;
    if (!fd.valid() || ::fstat(fd.get(), &now) != 0 || now.st_dev != before.st_dev ||
        now.st_ino != before.st_ino)
        return std::nullopt;
    return DirectWriter(std::move(fd));
}

DirectWriter::Outcome DirectWriter::write(std::int64_t at, std::int64_t length, const char* source,
                                          std::int64_t pieceBytes,
                                          const std::function<bool()>& goOn)
{
    // One write after the other, each lengthening the file: writes in flight side by side
    // would leave holes filled later, placed as no common file is.
    Outcome outcome;
    while (outcome.written < length && (outcome.written == 0 || goOn())) {
        const std::int64_t size = std::min(pieceBytes, length - outcome.written);
        const ssize_t n = ::pwrite(m_fd.get(), source, size_t(size), off_t(at + outcome.written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // Refused for want of room (a direct write is refused whole where a buffered
            // one fills what is left) or of a way: buffered writes go on from here.
            if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EINVAL)
                outcome.refused = true;
            else
                outcome.failure = errno;
            return outcome;
        }
        if (n == 0 || n % kAlign != 0) {
            // What a short write left unaligned is for buffered writes to go on from.
            outcome.written += n;
            outcome.refused = true;
            return outcome;
        }
        outcome.written += n;
    }
    return outcome;
}

} // namespace ov::fs
