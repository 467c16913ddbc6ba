#include "platform/NameTraces.h"

#include "platform/Error.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace ov::names {

namespace {

// The kernel's own files (/proc, /sys): small, read whole.
std::optional<QByteArray> readKernelFile(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// The number that ends right before `suffix` in `text` ("18 transactions").
std::optional<std::int64_t> numberBefore(const QByteArray& text, const QByteArray& suffix)
{
    const qsizetype at = text.indexOf(suffix);
    if (at <= 0)
        return std::nullopt;
    qsizetype begin = at;
    while (begin > 0 && text[begin - 1] == ' ')
        --begin;
    qsizetype end = begin;
    while (begin > 0 && text[begin - 1] >= '0' && text[begin - 1] <= '9')
        --begin;
    bool ok = false;
    const std::int64_t value = text.mid(begin, end - begin).toLongLong(&ok);
    return ok ? std::optional<std::int64_t>(value) : std::nullopt;
}

// The geometry and reserve calls of xfs, as its headers define them.
struct XfsGeomV1
{
    std::uint32_t blocksize, rtextsize, agblocks, agcount, logblocks, sectsize, inodesize, imaxpct;
    std::uint64_t datablocks, rtblocks, rtextents, logstart;
    unsigned char uuid[16];
    std::uint32_t sunit, swidth;
    std::int32_t version;
    std::uint32_t flags, logsectsize, rtsectsize, dirblocksize;
};
struct XfsResblks
{
    std::uint64_t resblks, resblksAvail;
};
constexpr unsigned long kXfsGeometryV1 = _IOR('X', 100, XfsGeomV1);
constexpr unsigned long kXfsGetResblks = _IOR('X', 115, XfsResblks);

int retried(const std::function<int()>& call)
{
    int rc;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return rc;
}

} // namespace

QByteArray deviceNameOf(const fs::Folder& folder)
{
    struct stat st;
    if (::fstat(folder.fd(), &st) != 0)
        return {};
    // A device-less file system (tmpfs, btrfs on several devices) has a major of 0 and
    // no entry under /sys/dev/block.
    const QByteArray link = "/sys/dev/block/" + QByteArray::number(major(st.st_dev)) + ':' +
                            QByteArray::number(minor(st.st_dev));
    char target[4096];
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    const QByteArray path(target, n);
    return path.mid(path.lastIndexOf('/') + 1);
}

FileSystemKind fileSystemOf(const fs::Folder& folder)
{
    struct statfs st;
    if (::fstatfs(folder.fd(), &st) != 0)
        throwErrno(folder.path());
    return fileSystemKindByMagic(long(st.f_type));
}

std::int64_t blockBytesOf(const fs::Folder& folder)
{
    struct statfs st;
    if (::fstatfs(folder.fd(), &st) != 0)
        throwErrno(folder.path());
    return std::int64_t(st.f_bsize);
}

std::optional<JournalStats> journalStats(const QByteArray& device)
{
    if (device.isEmpty())
        return std::nullopt;
    // The journal of ext3 and ext4 is inode 8 of the volume.
    const std::optional<QByteArray> text = readKernelFile("/proc/fs/jbd2/" + device + "-8/info");
    if (!text)
        return std::nullopt;
    const auto transactions = numberBefore(*text, " transactions");
    const auto logged = numberBefore(*text, " logged blocks per transaction");
    const qsizetype upTo = text->indexOf("each up to ");
    if (!transactions || !logged || upTo < 0)
        return std::nullopt;
    const qsizetype from = upTo + qsizetype(sizeof "each up to ") - 1;
    const auto limit = numberBefore(*text, " blocks\n");
    if (!limit || text->indexOf(" blocks\n") < from)
        return std::nullopt;
    return JournalStats{*transactions, *logged, *limit};
}

std::optional<LogPosition> xfsLogHead(const QByteArray& device)
{
    if (device.isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> text =
        readKernelFile("/sys/fs/xfs/" + device + "/log/log_head_lsn");
    if (!text)
        return std::nullopt;
    const QList<QByteArray> parts = text->trimmed().split(':');
    bool okCycle = false, okSector = false;
    if (parts.size() != 2)
        return std::nullopt;
    const LogPosition position{parts[0].toLongLong(&okCycle), parts[1].toLongLong(&okSector)};
    return okCycle && okSector ? std::optional<LogPosition>(position) : std::nullopt;
}

std::optional<XfsGeometry> xfsGeometry(const fs::Folder& folder)
{
    XfsGeomV1 geometry{};
    if (::ioctl(folder.fd(), kXfsGeometryV1, &geometry) != 0)
        return std::nullopt;
    return XfsGeometry{geometry.blocksize, std::int64_t(geometry.datablocks), geometry.logblocks};
}

std::optional<std::int64_t> xfsReserveBytes(const fs::Folder& folder)
{
    XfsResblks reserve{};
    const std::optional<XfsGeometry> geometry = xfsGeometry(folder);
    if (!geometry || ::ioctl(folder.fd(), kXfsGetResblks, &reserve) != 0)
        return std::nullopt;
    return std::int64_t(reserve.resblks) * geometry->blockBytes;
}

std::optional<std::int64_t> ext4ReservedClusters(const QByteArray& device)
{
    if (device.isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> text =
        readKernelFile("/sys/fs/ext4/" + device + "/reserved_clusters");
    bool ok = false;
    const std::int64_t clusters = text ? text->trimmed().toLongLong(&ok) : 0;
    return ok ? std::optional<std::int64_t>(clusters) : std::nullopt;
}

std::optional<MetadataSpace> btrfsMetadata(const fs::Folder& folder)
{
    btrfs_ioctl_space_args probe{};
    if (::ioctl(folder.fd(), BTRFS_IOC_SPACE_INFO, &probe) != 0 || probe.total_spaces == 0)
        return std::nullopt;
    const std::uint64_t slotCount = probe.total_spaces;
    std::vector<char> buffer(sizeof(btrfs_ioctl_space_args) +
                             slotCount * sizeof(btrfs_ioctl_space_info));
    auto* args = reinterpret_cast<btrfs_ioctl_space_args*>(buffer.data());
    args->space_slots = slotCount;
    if (::ioctl(folder.fd(), BTRFS_IOC_SPACE_INFO, args) != 0)
        return std::nullopt;
    MetadataSpace space;
    bool found = false;
    for (std::uint64_t i = 0; i < args->total_spaces && i < slotCount; ++i) {
        const btrfs_ioctl_space_info& info = args->spaces[i];
        if ((info.flags & BTRFS_BLOCK_GROUP_METADATA) && !(info.flags & BTRFS_BLOCK_GROUP_DATA)) {
            space.total += std::int64_t(info.total_bytes);
            space.used += std::int64_t(info.used_bytes);
            found = true;
        }
    }
    btrfs_ioctl_fs_info_args facts{};
    if (::ioctl(folder.fd(), BTRFS_IOC_FS_INFO, &facts) == 0 && facts.nodesize > 0)
        space.nodeBytes = std::int64_t(facts.nodesize);
    return found ? std::optional<MetadataSpace>(space) : std::nullopt;
}

// --- Scratch ------------------------------------------------------------------------

Scratch Scratch::open(const fs::Folder& parent, const QByteArray& name, BlockingRunner& runner)
{
    const QByteArray path = parent.pathOf(name);
    runner.runBlocking([&] {
        if (retried([&] { return ::mkdirat(parent.fd(), name.constData(), 0700); }) != 0 &&
            errno != EEXIST)
            throwErrno(path);
    });
    // Never through a link: a link planted in its place is refused with a clear message.
    fs::Folder folder = parent.openFolder(name);
    Scratch scratch(parent.duplicate(), std::move(folder), name);
    const std::optional<fs::EntryInfo> look = parent.lookAt(name);
    if (!look || !look->ownedByThisUser())
        throw Error(EPERM,
                    QStringLiteral("Belongs to another user; the names of deleted files were not "
                                   "cleaned"),
                    path);
    // A killed run's entries go first: only this user's files are in a folder of its own.
    runner.runBlocking([&] {
        if (const std::optional<Error> failure = scratch.removeEntries())
            throw *failure;
    });
    return scratch;
}

Scratch::~Scratch()
{
    if (m_folder && m_parent) {
        try {
            removeAll();
        } catch (const Error&) {
            // Told by the caller's own removeAll; a destructor cannot.
        }
    }
}

QByteArray Scratch::entryName(int number)
{
    return QByteArray::number(number).rightJustified(6, '0');
}

bool Scratch::createEmpty(int total, const std::function<bool()>& stop)
{
    for (; m_count < total; ++m_count) {
        if ((m_count & 255) == 0 && stop())
            return false;
        const QByteArray name = entryName(m_count);
        const int fd = retried([&] {
            return ::openat(m_folder->fd(), name.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        });
        if (fd < 0) {
            // No more inodes or room: the entries made so far do the work.
            if (errno == ENOSPC || errno == EDQUOT)
                return true;
            throwErrno(m_folder->pathOf(name));
        }
        ::close(fd);
    }
    return true;
}

int Scratch::setAttribute(const std::vector<int>& numbers, const QByteArray& value,
                          const std::function<bool()>& stop)
{
    // Each entry's value its own: no file system shares one block among them.
    QByteArray own = value;
    int done = 0;
    for (int number : numbers) {
        if ((done & 255) == 255 && stop())
            return -1;
        std::memcpy(own.data(), &number, std::min(sizeof number, size_t(own.size())));
        const QByteArray name = entryName(number);
        // Our own entries in our own folder, and never through a link.
        fs::Descriptor fd(retried([&] {
            return ::openat(m_folder->fd(), name.constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }));
        if (!fd.valid())
            throwErrno(m_folder->pathOf(name));
        if (::fsetxattr(fd.get(), "user.ov", own.constData(), size_t(own.size()), 0) != 0) {
            if (errno == ENOSPC || errno == EDQUOT)
                return done;
            throwErrno(m_folder->pathOf(name));
        }
        ++done;
    }
    return done;
}

bool Scratch::addAttribute(const QByteArray& value)
{
    if (!m_carrier.valid()) {
        const QByteArray name = entryName(m_count);
        fs::Descriptor fd(retried([&] {
            return ::openat(m_folder->fd(), name.constData(),
                            O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        }));
        if (!fd.valid()) {
            if (errno == ENOSPC || errno == EDQUOT)
                return false;
            throwErrno(m_folder->pathOf(name));
        }
        ++m_count;
        m_carrier = std::move(fd);
    }
    const QByteArray key = "user.ov" + QByteArray::number(m_attributes);
    if (::fsetxattr(m_carrier.get(), key.constData(), value.constData(), size_t(value.size()),
                    XATTR_CREATE) != 0) {
        if (errno == ENOSPC || errno == EDQUOT)
            return false;
        throwErrno(m_folder->pathOf(entryName(m_count - 1)));
    }
    ++m_attributes;
    return true;
}

void Scratch::syncVolume()
{
    if (retried([&] { return ::syncfs(m_folder->fd()); }) != 0)
        throwErrno(m_folder->path());
}

std::optional<Error> Scratch::removeEntries()
{
    // Every name in it, also those a failed creation may have left past the count; read
    // through a descriptor of its own, from the start.
    std::optional<Error> first;
    const int fd = ::openat(m_folder->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* stream = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!stream) {
        if (fd >= 0)
            ::close(fd);
        return Error::fromErrno(errno, m_folder->path());
    }
    std::vector<QByteArray> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream);
        if (!entry) {
            if (errno != 0)
                first = Error::fromErrno(errno, m_folder->path());
            break;
        }
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            entries.push_back(name);
    }
    ::closedir(stream);
    for (const QByteArray& entry : entries) {
        if (::unlinkat(m_folder->fd(), entry.constData(), 0) != 0 && errno != ENOENT && !first)
            first = Error::fromErrno(errno, m_folder->pathOf(entry));
    }
    m_count = 0;
    return first;
}

void Scratch::removeAll()
{
    if (!m_folder || !m_parent)
        return;
    m_carrier.close();
    m_attributes = 0;
    std::optional<Error> first = removeEntries();
    const QByteArray path = m_folder->path();
    m_folder.reset();
    if (::unlinkat(m_parent->fd(), m_name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT &&
        !first)
        first = Error::fromErrno(errno, path);
    m_parent.reset();
    if (first)
        throw *first;
}

} // namespace ov::names
