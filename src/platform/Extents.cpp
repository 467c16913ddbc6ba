#include "platform/Extents.h"

#include "platform/Error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>

namespace ov::fs {

bool Extent::shared() const
{
    return flags & FIEMAP_EXTENT_SHARED;
}

bool Extent::unwritten() const
{
    return flags & FIEMAP_EXTENT_UNWRITTEN;
}

bool Extent::opaque() const
{
    return flags &
           (FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_ENCODED |
            FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_DATA_TAIL | FIEMAP_EXTENT_NOT_ALIGNED);
}

bool Extent::inlineData() const
{
    return flags & FIEMAP_EXTENT_DATA_INLINE;
}

bool Extent::encoded() const
{
    return flags & FIEMAP_EXTENT_ENCODED;
}

bool Extent::encrypted() const
{
    return flags & FIEMAP_EXTENT_DATA_ENCRYPTED;
}

std::optional<unsigned> inodeFlagsOf(const File& file, BlockingRunner& runner)
{
    return runner.blocking([&]() -> std::optional<unsigned> {
        int flags = 0;
        if (::ioctl(file.fd(), FS_IOC_GETFLAGS, &flags) != 0)
            return std::nullopt;
        return unsigned(flags);
    });
}

std::optional<std::vector<Extent>> extentsOf(const File& file, off_t from, off_t to,
                                             BlockingRunner& runner)
{
    if (to <= from)
        return std::vector<Extent>{};
    return runner.blocking([&]() -> std::optional<std::vector<Extent>> {
        constexpr unsigned kBatch = 256;
        const size_t size = sizeof(fiemap) + kBatch * sizeof(fiemap_extent);
        std::unique_ptr<fiemap, decltype(&std::free)> map(
            static_cast<fiemap*>(std::calloc(1, size)), &std::free);
        if (!map)
            throwError(ENOMEM, file.path());
        std::vector<Extent> extents;
        std::uint32_t flags = FIEMAP_FLAG_SYNC;
        for (off_t at = from; at < to;) {
            std::memset(map.get(), 0, size);
            map->fm_start = std::uint64_t(at);
            map->fm_length = std::uint64_t(to - at);
            map->fm_flags = flags;
            map->fm_extent_count = kBatch;
            if (::ioctl(file.fd(), FS_IOC_FIEMAP, map.get()) != 0) {
                if (errno == EOPNOTSUPP || errno == ENOTTY || errno == ENOSYS)
                    return std::nullopt;
                throwErrno(file.path());
            }
            // Flushed once is enough.
            flags = 0;
            if (map->fm_mapped_extents == 0)
                break;
            bool last = false;
            for (std::uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
                const fiemap_extent& e = map->fm_extents[i];
                extents.push_back(
                    {off_t(e.fe_logical), off_t(e.fe_physical), off_t(e.fe_length), e.fe_flags});
                last = last || (e.fe_flags & FIEMAP_EXTENT_LAST);
            }
            const Extent& end = extents.back();
            if (last || end.logical + end.length <= at)
                break;
            at = end.logical + end.length;
        }
        return extents;
    });
}

} // namespace ov::fs
