#include "platform/FileWriting.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace ov::fs {

namespace {

bool addFlags(int fd, int wanted)
{
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0)
        return false;
    if ((flags & wanted) == wanted)
        return true;
    flags |= wanted;
    return ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
}

} // namespace

bool refuseCompression(const File& file)
{
    const int fd = file.fd();
    // No copy-on-write rules compression out altogether, also on a volume mounted with
    // compress-force, which overrides the no-compression attribute; only an empty file
    // may give it up, and btrfs takes one of the two attributes, not both.
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size == 0 && addFlags(fd, FS_NOCOW_FL))
        return true;
    return addFlags(fd, FS_NOCOMP_FL);
}

} // namespace ov::fs
