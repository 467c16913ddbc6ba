#include "platform/Files.h"

#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ov::fs {

bool EntryInfo::isRegular() const
{
    return S_ISREG(mode);
}
bool EntryInfo::ownerWritable() const
{
    return (mode & S_IWUSR) != 0;
}

namespace {

EntryInfo fromStat(const struct stat& st)
{
    EntryInfo info;
    info.size = st.st_size;
    info.mode = st.st_mode;
    return info;
}

Error notRegular(const QByteArray& path, mode_t mode)
{
    if (S_ISLNK(mode))
        return Error(ELOOP, QStringLiteral("Is a symbolic link, not a regular file"), path);
    if (S_ISDIR(mode))
        return Error(EISDIR, QStringLiteral("Is a folder, not a regular file"), path);
    if (S_ISBLK(mode) || S_ISCHR(mode))
        return Error(EINVAL, QStringLiteral("Is a device, not a regular file"), path);
    if (S_ISFIFO(mode))
        return Error(EINVAL, QStringLiteral("Is a FIFO, not a regular file"), path);
    if (S_ISSOCK(mode))
        return Error(EINVAL, QStringLiteral("Is a socket, not a regular file"), path);
    return Error(EINVAL, QStringLiteral("Is not a regular file"), path);
}

int retryOpen(const QByteArray& path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// After an O_NONBLOCK open of something we now know is a regular file, go back to
// ordinary blocking writes.
void clearNonBlocking(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

} // namespace

EntryInfo entryInfo(const QByteArray& path)
{
    struct stat st;
    if (path.isEmpty())
        throwError(ENOENT, path);
    if (::lstat(path.constData(), &st) != 0)
        throwErrno(path);
    return fromStat(st);
}

void requireRegular(const QByteArray& path, const EntryInfo& info)
{
    if (!info.isRegular())
        throw notRegular(path, info.mode);
}

bool entryExists(const QByteArray& path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0;
}

namespace {

Error notOwned(const QByteArray& path)
{
    return Error(EPERM, QStringLiteral("Belongs to another user; it is left alone"), path);
}

} // namespace

// Opens without following a link and without blocking (a FIFO), then checks the open
// descriptor itself, so that nothing can have been swapped in after the first look.
File File::openChecked(const QByteArray& path, int flags, bool mustBeOwned, EngineHost& host)
{
    flags |= O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = -1;
    int failure = 0;
    host.runBlocking([&] {
        fd = retryOpen(path, flags, 0600);
        failure = fd < 0 ? errno : 0;
    });
    if (fd < 0)
        throwError(failure, path);
    File file(fd, path, host);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throwErrno(path);
    if (!S_ISREG(st.st_mode))
        throw notRegular(path, st.st_mode);
    if (mustBeOwned && st.st_uid != ::geteuid())
        throw notOwned(path);
    clearNonBlocking(fd);
    return file;
}

File File::openRegular(const QByteArray& path, Access access, EngineHost& host, bool refuseReadOnly)
{
    const EntryInfo info = entryInfo(path);
    requireRegular(path, info);
    if (refuseReadOnly && !info.ownerWritable())
        throw Error(EACCES, QStringLiteral("The file is read-only"), path);
    return openChecked(path, access == Access::ReadWrite ? O_RDWR : O_WRONLY, false, host);
}

File File::openAppendOwned(const QByteArray& path, EngineHost& host)
{
    // A look first, so that a FIFO or device of that name is never opened at all.
    struct stat st;
    if (::lstat(path.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            throw notRegular(path, st.st_mode);
        if (st.st_uid != ::geteuid())
            throw notOwned(path);
    }
    return openChecked(path, O_WRONLY | O_APPEND | O_CREAT, true, host);
}

File::File(File&& other) noexcept
    : m_fd(other.m_fd), m_path(std::move(other.m_path)), m_host(other.m_host)
{
    other.m_fd = -1;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        m_host = other.m_host;
        other.m_fd = -1;
    }
    return *this;
}

File::~File()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

off_t File::size() const
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        throwErrno(m_path);
    return st.st_size;
}

namespace {

// pwrite()/write() until everything is written; a short write is retried, a write
// that makes no progress is a failure (ENOSPC on most file systems).
int writeAll(int fd, const char* data, size_t length, off_t offset, bool positioned)
{
    while (length > 0) {
        ssize_t n = positioned ? ::pwrite(fd, data, length, offset) : ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        data += n;
        length -= size_t(n);
        offset += n;
    }
    return 0;
}

} // namespace

void File::writeAt(const char* data, size_t length, off_t offset)
{
    int failure = 0;
    m_host->runBlocking([&] { failure = writeAll(m_fd, data, length, offset, true); });
    if (failure)
        throwError(failure, m_path);
}

void File::append(const char* data, size_t length)
{
    int failure = 0;
    m_host->runBlocking([&] { failure = writeAll(m_fd, data, length, 0, false); });
    if (failure)
        throwError(failure, m_path);
}

void File::sync()
{
    int failure = 0;
    m_host->runBlocking([&] {
        int rc;
        do {
            rc = ::fdatasync(m_fd);
        } while (rc != 0 && errno == EINTR);
        failure = rc != 0 ? errno : 0;
    });
    if (failure)
        throwError(failure, m_path);
}

void File::close()
{
    if (m_fd < 0)
        return;
    int fd = m_fd;
    m_fd = -1;
    // close() may flush and report a deferred write error (NFS), so it runs off-thread;
    // EINTR still releases the descriptor.
    int failure = 0;
    m_host->runBlocking([&] { failure = ::close(fd) != 0 && errno != EINTR ? errno : 0; });
    if (failure)
        throwError(failure, m_path);
}

void renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return;
    int failure = errno;
    if (failure != EINVAL && failure != ENOSYS && failure != ENOTSUP)
        throwError(failure, from);
    // The file system cannot rename without replacing: a hard link fails on an existing
    // name by itself.
    if (::link(from.constData(), to.constData()) == 0) {
        if (::unlink(from.constData()) != 0) {
            int unlinkFailure = errno;
            ::unlink(to.constData());
            throwError(unlinkFailure, from);
        }
        return;
    }
    failure = errno;
    if (failure == EEXIST)
        throwError(EEXIST, to);
    if (failure != EPERM && failure != ENOTSUP && failure != EOPNOTSUPP)
        throwError(failure, from);
    // No hard links either (FAT): look first, then rename. The gap between the two is
    // the best such a file system allows.
    if (entryExists(to))
        throwError(EEXIST, to);
    if (::rename(from.constData(), to.constData()) != 0)
        throwErrno(from);
}

void removeFile(const QByteArray& path)
{
    if (path.isEmpty())
        throwError(ENOENT, path);
    if (::unlink(path.constData()) != 0)
        throwErrno(path);
}

void makeOwnerWritable(const QByteArray& path)
{
    // O_PATH opens the entry itself, never a link's target, a FIFO's writer or a device.
    struct Descriptor
    {
        int fd;
        ~Descriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } entry{retryOpen(path, O_PATH | O_NOFOLLOW | O_CLOEXEC)};
    if (entry.fd < 0)
        throwErrno(path);
    struct stat st;
    if (::fstat(entry.fd, &st) != 0)
        throwErrno(path);
    if (!S_ISREG(st.st_mode))
        throw notRegular(path, st.st_mode);
    if (st.st_mode & S_IWUSR)
        return;
    // chmod through the descriptor's /proc entry reaches the inode we checked, never the
    // target of a link planted meanwhile.
    const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(entry.fd);
    if (::chmod(procPath.constData(), (st.st_mode & 07777) | S_IWUSR) != 0)
        throwErrno(path);
}

QByteArray readFile(const QByteArray& path)
{
    const int fd = retryOpen(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throwErrno(path);
    QByteArray content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            throw Error::fromErrno(code, path);
        }
        if (n == 0)
            break;
        content.append(buffer, n);
    }
    ::close(fd);
    return content;
}

} // namespace ov::fs
