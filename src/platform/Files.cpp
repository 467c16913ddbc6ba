#include "platform/Files.h"

#include "platform/Error.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ov::fs {

bool EntryInfo::isRegular() const
{
    return S_ISREG(mode);
}
bool EntryInfo::isFolder() const
{
    return S_ISDIR(mode);
}
bool EntryInfo::ownerWritable() const
{
    return (mode & S_IWUSR) != 0;
}
bool EntryInfo::ownedByThisUser() const
{
    return owner == ::geteuid();
}

namespace {

EntryInfo fromStat(const struct stat& st)
{
    EntryInfo info;
    info.size = st.st_size;
    info.mode = st.st_mode;
    info.owner = st.st_uid;
    info.links = st.st_nlink;
    info.id = Identity{st.st_dev, st.st_ino};
    return info;
}

// Repeats a system call that was interrupted by a signal before it did anything.
template <class Call> auto retry(Call call)
{
    decltype(call()) rc;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return rc;
}

bool validName(const QByteArray& name)
{
    return !name.isEmpty() && !name.contains('/') && !name.contains('\0');
}

// A NUL ends a name for the system: whatever it cut off would not be the file meant.
Error nulInName(const QByteArray& path)
{
    return Error(EINVAL, QStringLiteral("The name holds a NUL byte, so it names no file"), path);
}

void requireName(const QByteArray& name, const QByteArray& path)
{
    if (name.contains('\0'))
        throw nulInName(path);
    if (!validName(name))
        throw Error(EINVAL, QStringLiteral("Is not a name within its folder"), path);
}

int accessFlags(File::Access access)
{
    switch (access) {
    case File::Access::ReadOnly:
        return O_RDONLY;
    case File::Access::WriteOnly:
        return O_WRONLY;
    case File::Access::ReadWrite:
        break;
    }
    return O_RDWR;
}

// After an O_NONBLOCK open of what is now known to be a regular file, ordinary
// blocking writes again: of the flags F_SETFL sets, only O_APPEND was asked for.
void clearNonBlocking(int fd, int openFlags)
{
    ::fcntl(fd, F_SETFL, openFlags & O_APPEND);
}

Error notOwned(const QByteArray& path)
{
    return Error(EPERM, QStringLiteral("Belongs to another user; it is left alone"), path);
}

Error moreNames(const QByteArray& path)
{
    return Error(EMLINK, QStringLiteral("Has other names (hard links); it is left alone"), path);
}

// pwrite()/write() until everything is written; a write that makes no progress is
// ENOSPC, as most file systems mean by it.
void writeAll(int fd, const char* data, size_t length, off_t offset, bool positioned,
              const QByteArray& path)
{
    while (length > 0) {
        const ssize_t n =
            positioned ? ::pwrite(fd, data, length, offset) : ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throwErrno(path);
        if (n == 0)
            throwError(ENOSPC, path);
        data += n;
        length -= size_t(n);
        offset += n;
    }
}

// The system takes a path shorter than PATH_MAX bytes only. A longer one is followed a
// stretch of whole names at a time, each from the folder the stretch before led to, so
// links on the way are followed as in the whole path. On failure errno says why.
Descriptor openAnyLength(const QByteArray& path, int flags)
{
    Descriptor folder; // where the rest of the path starts; the working folder at first
    qsizetype from = 0;
    for (;;) {
        const int base = folder.valid() ? folder.get() : AT_FDCWD;
        if (path.size() - from < PATH_MAX) {
            const QByteArray rest = from == path.size() ? QByteArray(".") : path.mid(from);
            return Descriptor(retry([&] { return ::openat(base, rest.constData(), flags); }));
        }
        const qsizetype cut = path.lastIndexOf('/', from + PATH_MAX - 2);
        if (cut <= from) {
            // No single name is that long: it names nothing.
            errno = ENAMETOOLONG;
            return Descriptor();
        }
        const QByteArray stretch = path.mid(from, cut - from);
        Descriptor next(retry(
            [&] { return ::openat(base, stretch.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
        if (!next.valid())
            return Descriptor();
        folder = std::move(next);
        from = cut + 1;
        // The rest must not start with a slash: it would be taken from the root.
        while (from < path.size() && path[from] == '/')
            ++from;
    }
}

// stat() (followLink) or lstat() of a path of any length; errno tells a failure.
bool statAnyLength(const QByteArray& path, struct stat& st, bool followLink)
{
    if (path.size() < PATH_MAX)
        return (followLink ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st)) == 0;
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray name = path.mid(slash + 1);
    if (name.isEmpty()) {
        // A slash at the end: whatever the path leads to, links followed.
        const Descriptor entry = openAnyLength(path, O_PATH | O_CLOEXEC);
        return entry.valid() && ::fstat(entry.get(), &st) == 0;
    }
    const Descriptor folder = openAnyLength(slash == 0 ? QByteArray("/") : path.left(slash),
                                            O_PATH | O_DIRECTORY | O_CLOEXEC);
    return folder.valid() && ::fstatat(folder.get(), name.constData(), &st,
                                       followLink ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace

EntryInfo entryInfo(const QByteArray& path)
{
    struct stat st;
    if (path.isEmpty())
        throwError(ENOENT, path);
    if (!statAnyLength(path, st, false))
        throwErrno(path);
    return fromStat(st);
}

std::optional<EntryInfo> lookAt(const QByteArray& path)
{
    struct stat st;
    if (path.isEmpty() || path.contains('\0') || !statAnyLength(path, st, false))
        return std::nullopt;
    return fromStat(st);
}

bool entryExists(const QByteArray& path)
{
    return lookAt(path).has_value();
}

bool isFolder(const QByteArray& path)
{
    struct stat st;
    return !path.isEmpty() && statAnyLength(path, st, true) && S_ISDIR(st.st_mode);
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

void requireRegular(const QByteArray& path, const EntryInfo& info)
{
    if (!info.isRegular())
        throw notRegular(path, info.mode);
}

// --- File ---------------------------------------------------------------------------

File File::openAppendOwned(const QByteArray& path, BlockingRunner& runner)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : path.left(slash);
    try {
        File file = Folder::open(folder, runner).openAppendOwned(path.mid(slash + 1));
        file.m_path = path;
        return file;
    } catch (const Error& error) {
        // Named by the file, whatever on the way to it failed.
        throw Error(error.code(), error.message(), path);
    }
}

EntryInfo File::info() const
{
    return entryInfo(m_fd, m_path, *m_runner);
}

off_t File::size() const
{
    return info().size;
}

std::optional<std::pair<off_t, off_t>> File::nextData(off_t from, off_t to) const
{
    if (from >= to)
        return std::nullopt;
    return m_runner->blocking([&]() -> std::optional<std::pair<off_t, off_t>> {
        const off_t start = ::lseek(m_fd.get(), from, SEEK_DATA);
        if (start < 0) {
            if (errno == ENXIO)
                return std::nullopt; // a hole up to the end
            return std::pair(from, to);
        }
        if (start >= to)
            return std::nullopt;
        off_t end = ::lseek(m_fd.get(), start, SEEK_HOLE);
        if (end < 0 || end > to)
            end = to;
        return std::pair(start, end);
    });
}

void File::writeAt(const char* data, size_t length, off_t offset)
{
    m_runner->runBlocking([&] { writeAll(m_fd.get(), data, length, offset, true, m_path); });
}

void File::append(const char* data, size_t length)
{
    m_runner->runBlocking([&] { writeAll(m_fd.get(), data, length, 0, false, m_path); });
}

size_t File::appendSome(const char* data, size_t length)
{
    return m_runner->blocking([&] {
        const ssize_t n = retry([&] { return ::write(m_fd.get(), data, length); });
        if (n < 0)
            throwErrno(m_path);
        if (n == 0)
            throwError(ENOSPC, m_path);
        return size_t(n);
    });
}

void File::startWriteback(off_t from, off_t to)
{
    if (to <= from)
        return;
    m_runner->runBlocking([&] {
        // Only a hint: a failure here shows again, and is reported, at the flush.
        ::sync_file_range(m_fd.get(), from, to - from, SYNC_FILE_RANGE_WRITE);
    });
}

void File::sync()
{
    m_runner->runBlocking([&] {
        if (retry([&] { return ::fdatasync(m_fd.get()); }) != 0)
            throwErrno(m_path);
    });
}

File::Lease File::aloneNow() const
{
    return m_runner->blocking([&] {
        // Taking a lease makes this process the one signalled on its break, by default
        // with SIGIO, which ends it. Another program's open between the two calls below
        // breaks it: the signal is made SIGURG, ignored unless a handler asks for it.
        if (!m_breaksQuiet) {
            ::fcntl(m_fd.get(), F_SETSIG, SIGURG);
            m_breaksQuiet = true;
        }
        if (::fcntl(m_fd.get(), F_SETLEASE, F_WRLCK) != 0) {
            if (errno == EAGAIN || errno == EBUSY)
                return Lease::Busy;
            if (errno == EACCES || errno == EPERM)
                return Lease::NotAllowed;
            return Lease::NotSupported;
        }
        ::fcntl(m_fd.get(), F_SETLEASE, F_UNLCK);
        return Lease::Taken;
    });
}

void File::close()
{
    if (!m_fd.valid())
        return;
    // close() may flush and report a deferred write error (NFS): off the interface
    // thread, and reported.
    m_runner->runBlocking([&] {
        if (const int failure = m_fd.close())
            throwError(failure, m_path);
    });
}

// --- Folder -------------------------------------------------------------------------

Folder Folder::open(const QByteArray& path, BlockingRunner& runner)
{
    if (path.isEmpty())
        throwError(ENOENT, path);
    if (path.contains('\0'))
        throw nulInName(path);
    return runner.blocking([&] {
        Descriptor fd = openAnyLength(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
        if (!fd.valid())
            throwErrno(path);
        struct stat st;
        if (::fstat(fd.get(), &st) != 0)
            throwErrno(path);
        return Folder(std::move(fd), path, Identity{st.st_dev, st.st_ino}, runner);
    });
}

Folder Folder::openFolder(const QByteArray& name) const
{
    const QByteArray path = pathOf(name);
    requireName(name, path);
    return m_runner->blocking([&] {
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
        Descriptor fd(retry([&] { return ::openat(m_fd.get(), name.constData(), flags); }));
        if (!fd.valid()) {
            // A link where a folder was expected says so, not "too many levels of links".
            struct stat st;
            if (errno == ELOOP &&
                ::fstatat(m_fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                throw notRegular(path, st.st_mode);
            throwErrno(path);
        }
        struct stat st;
        if (::fstat(fd.get(), &st) != 0)
            throwErrno(path);
        return Folder(std::move(fd), path, Identity{st.st_dev, st.st_ino}, *m_runner);
    });
}

Folder Folder::duplicate() const
{
    Descriptor fd(::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 0));
    if (!fd.valid())
        throwErrno(m_path);
    Folder copy(std::move(fd), m_path, m_id, *m_runner);
    if (!m_facts)
        m_facts = std::make_shared<std::optional<Facts>>();
    copy.m_facts = m_facts;
    return copy;
}

std::optional<Folder> Folder::openParent(const QByteArray& path, Identity expected) const
{
    return m_runner->blocking([&]() -> std::optional<Folder> {
        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
        Descriptor fd(retry([&] { return ::openat(m_fd.get(), "..", flags); }));
        if (!fd.valid())
            throwErrno(path);
        struct stat st;
        if (::fstat(fd.get(), &st) != 0)
            throwErrno(path);
        if (Identity{st.st_dev, st.st_ino} != expected)
            return std::nullopt;
        return Folder(std::move(fd), path, expected, *m_runner);
    });
}

QByteArray Folder::pathOf(const QByteArray& name) const
{
    return m_path.endsWith('/') ? m_path + name : m_path + '/' + name;
}

bool Folder::stillAt(const QByteArray& path) const
{
    return m_runner->blocking([&] {
        struct stat st;
        return statAnyLength(path, st, true) && Identity{st.st_dev, st.st_ino} == m_id;
    });
}

std::optional<EntryInfo> Folder::lookAt(const QByteArray& name) const
{
    if (name.contains('\0'))
        throw nulInName(pathOf(name));
    if (!validName(name))
        return std::nullopt;
    return m_runner->blocking([&]() -> std::optional<EntryInfo> {
        struct stat st;
        if (::fstatat(m_fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                return std::nullopt;
            throwErrno(pathOf(name));
        }
        return fromStat(st);
    });
}

File Folder::openFile(const QByteArray& name, File::Access access) const
{
    return openChecked(name, accessFlags(access), false);
}

File Folder::openAppendOwned(const QByteArray& name) const
{
    return openChecked(name, O_WRONLY | O_APPEND | O_CREAT, true);
}

File Folder::openChecked(const QByteArray& name, int flags, bool appendOwned) const
{
    const QByteArray path = pathOf(name);
    requireName(name, path);
    // Refused unless a regular file (and, for the append files, this user's alone).
    auto check = [&](const EntryInfo& info, bool opened) {
        requireRegular(path, info);
        if (appendOwned && !info.ownedByThisUser())
            throw notOwned(path);
        // Appending to a file with another name would write into that other file too.
        if (appendOwned && opened && info.links > 1)
            throw moreNames(path);
    };
    // A look first, so that a device or FIFO of that name is never opened at all. The
    // open itself follows no link and the check of the open descriptor catches whatever
    // was swapped in between.
    if (const std::optional<EntryInfo> look = lookAt(name))
        check(*look, false);
    else if (!appendOwned)
        throwError(ENOENT, path);
    return m_runner->blocking([&] {
        const int all = flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        Descriptor fd(retry([&] { return ::openat(m_fd.get(), name.constData(), all, 0600); }));
        if (!fd.valid())
            throwErrno(path);
        struct stat st;
        if (::fstat(fd.get(), &st) != 0)
            throwErrno(path);
        const EntryInfo opened = fromStat(st);
        check(opened, true);
        clearNonBlocking(fd.get(), flags);
        File file(std::move(fd), path, *m_runner);
        file.m_opened = opened;
        return file;
    });
}

Descriptor Folder::openEntry(const QByteArray& name) const
{
    const QByteArray path = pathOf(name);
    requireName(name, path);
    return m_runner->blocking([&] {
        Descriptor fd(retry([&] {
            return ::openat(m_fd.get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        }));
        if (!fd.valid())
            throwErrno(path);
        return fd;
    });
}

Folder Folder::makePrivateFolder(const QByteArray& stem, QByteArray* name) const
{
    return m_runner->blocking([&] {
        for (int attempt = 0;; ++attempt) {
            const QByteArray candidate =
                stem + QByteArray::number(qulonglong(::getpid()), 36) + '-' +
                QByteArray::number(qulonglong(::random()) ^ qulonglong(attempt), 36);
            if (::mkdirat(m_fd.get(), candidate.constData(), 0700) != 0) {
                if (errno == EEXIST && attempt < 20)
                    continue;
                throwErrno(pathOf(candidate));
            }
            Descriptor fd(retry([&] {
                return ::openat(m_fd.get(), candidate.constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }));
            struct stat st;
            // Someone who may rename entries here could have put a folder of their own in
            // place of the one just made: it is only ours if this user owns it.
            if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() ||
                (st.st_mode & 077) != 0)
                throw Error(EAGAIN,
                            QStringLiteral("A folder made for the delete was replaced at once"),
                            pathOf(candidate));
            *name = candidate;
            return Folder(std::move(fd), pathOf(candidate), Identity{st.st_dev, st.st_ino},
                          *m_runner);
        }
    });
}

void Folder::moveInto(const QByteArray& name, const Folder& to) const
{
    m_runner->runBlocking([&] {
        // Nobody else may make an entry in the private folder; and what a delete left
        // there is never replaced, where the file system can refuse to.
        if (::renameat2(m_fd.get(), name.constData(), to.m_fd.get(), name.constData(),
                        RENAME_NOREPLACE) == 0)
            return;
        if ((errno != EINVAL && errno != ENOSYS) ||
            ::renameat(m_fd.get(), name.constData(), to.m_fd.get(), name.constData()) != 0)
            throwErrno(pathOf(name));
    });
}

void Folder::moveBackFrom(const Folder& from, const QByteArray& name) const
{
    m_runner->runBlocking([&] {
        if (::renameat2(from.m_fd.get(), name.constData(), m_fd.get(), name.constData(),
                        RENAME_NOREPLACE) == 0)
            return;
        // A file system without the flag: a new link fails on a name already taken.
        if ((errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) ||
            ::linkat(from.m_fd.get(), name.constData(), m_fd.get(), name.constData(), 0) != 0 ||
            ::unlinkat(from.m_fd.get(), name.constData(), 0) != 0)
            throwErrno(pathOf(name));
    });
}

void Folder::rename(const QByteArray& from, const QByteArray& to) const
{
    requireName(from, pathOf(from));
    requireName(to, pathOf(to));
    m_runner->runBlocking([&] {
        const int fd = m_fd.get();
        if (::renameat2(fd, from.constData(), fd, to.constData(), RENAME_NOREPLACE) == 0)
            return;
        int failure = errno;
        if (failure == EEXIST)
            throwError(EEXIST, pathOf(to));
        if (failure != EINVAL && failure != ENOSYS && failure != ENOTSUP)
            throwError(failure, pathOf(from));
        // The file system cannot rename without replacing: a hard link fails on an
        // existing name by itself.
        if (::linkat(fd, from.constData(), fd, to.constData(), 0) == 0) {
            if (::unlinkat(fd, from.constData(), 0) != 0) {
                failure = errno;
                ::unlinkat(fd, to.constData(), 0);
                throwError(failure, pathOf(from));
            }
            return;
        }
        failure = errno;
        if (failure == EEXIST)
            throwError(EEXIST, pathOf(to));
        if (failure != EPERM && failure != ENOTSUP && failure != EOPNOTSUPP)
            throwError(failure, pathOf(from));
        // No hard links either (FAT): look first, then rename. The gap between the two
        // is the best such a file system allows.
        struct stat st;
        if (::fstatat(fd, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            throwError(EEXIST, pathOf(to));
        if (::renameat(fd, from.constData(), fd, to.constData()) != 0)
            throwErrno(pathOf(from));
    });
}

void Folder::remove(const QByteArray& name) const
{
    const QByteArray path = pathOf(name);
    requireName(name, path);
    m_runner->runBlocking([&] {
        if (::unlinkat(m_fd.get(), name.constData(), 0) != 0)
            throwErrno(path);
    });
}

void Folder::removeFolder(const QByteArray& name) const
{
    const QByteArray path = pathOf(name);
    requireName(name, path);
    m_runner->runBlocking([&] {
        if (::unlinkat(m_fd.get(), name.constData(), AT_REMOVEDIR) != 0)
            throwErrno(path);
    });
}

void Folder::sync() const
{
    m_runner->runBlocking([&] {
        if (retry([&] { return ::fsync(m_fd.get()); }) == 0)
            return;
        // A file system that keeps nothing to flush for folders says so; that is no
        // failure of the operation.
        if (errno != EINVAL && errno != ENOTSUP)
            throwErrno(m_path);
    });
}

void Folder::syncVolume() const
{
    m_runner->runBlocking([&] {
        if (retry([&] { return ::syncfs(m_fd.get()); }) != 0)
            throwErrno(m_path);
    });
}

void Folder::requireNamesChangeable(const EntryInfo& file, const QByteArray& filePath) const
{
    std::optional<Facts> looked;
    std::optional<Facts>& known = m_facts ? *m_facts : looked;
    if (!known) {
        known = m_runner->blocking([&] {
            const int fd = m_fd.get();
            Facts facts;
            struct statvfs volume;
            facts.readOnlyVolume = ::fstatvfs(fd, &volume) == 0 && (volume.f_flag & ST_RDONLY);
            if (::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) != 0)
                facts.access = errno;
            struct stat folder;
            if (::fstat(fd, &folder) == 0) {
                facts.sticky = folder.st_mode & S_ISVTX;
                facts.owner = folder.st_uid;
            }
            facts.user = ::geteuid();
            int flags = 0;
            facts.frozen = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                           (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL));
            return facts;
        });
    }
    const Facts& facts = *known;
    if (facts.readOnlyVolume)
        throwError(EROFS, filePath);
    auto cannot = [&](int code, const char* why) {
        throw Error(code, QLatin1String(why) + QStringLiteral(", so it could not be deleted"),
                    filePath);
    };
    if (facts.access == EPERM)
        cannot(EPERM, "Its folder is immutable or append-only");
    if (facts.access)
        cannot(facts.access, "Its folder may not be written by this user");
    if (facts.sticky && facts.user != 0 && file.owner != facts.user && facts.owner != facts.user)
        cannot(EPERM, "Its folder is sticky and the file belongs to another user");
    if (facts.frozen)
        cannot(EPERM, "Its folder is immutable or append-only");
}

std::vector<QByteArray> Folder::names() const
{
    return m_runner->blocking([&] {
        std::vector<QByteArray> names;
        DIR* stream = m_fd.stream();
        if (!stream)
            throwErrno(m_path);
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(stream);
            if (!entry) {
                if (errno != 0)
                    throwErrno(m_path);
                break;
            }
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names.push_back(name);
        }
        return names;
    });
}

// --- Held entries -------------------------------------------------------------------

EntryInfo entryInfo(const Descriptor& entry, const QByteArray& path, BlockingRunner& runner)
{
    return runner.blocking([&] {
        struct stat st;
        if (::fstat(entry.get(), &st) != 0)
            throwErrno(path);
        return fromStat(st);
    });
}

namespace {

long fileSystemMagic(const Descriptor& entry, const QByteArray& path, BlockingRunner& runner)
{
    return runner.blocking([&] {
        struct statfs st;
        if (::fstatfs(entry.get(), &st) != 0)
            throwErrno(path);
        return long(st.f_type);
    });
}

} // namespace

FileSystemKind fileSystemOf(const Descriptor& entry, const QByteArray& path, BlockingRunner& runner)
{
    return fileSystemKindByMagic(fileSystemMagic(entry, path, runner));
}

void setMode(const Descriptor& entry, mode_t mode, const QByteArray& path, BlockingRunner& runner)
{
    runner.runBlocking([&] {
        // chmod through the descriptor's /proc entry reaches the inode held, never the
        // target of a link planted meanwhile (fchmod does not take an O_PATH descriptor).
        const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(entry.get());
        if (::chmod(procPath.constData(), mode & 07777) != 0)
            throwErrno(path);
    });
}

void removeFile(const QByteArray& path)
{
    if (path.isEmpty())
        throwError(ENOENT, path);
    if (::unlink(path.constData()) != 0)
        throwErrno(path);
}

QByteArray readFile(const QByteArray& path)
{
    Descriptor fd(retry([&] { return ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY); }));
    if (!fd.valid())
        throwErrno(path);
    QByteArray content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = retry([&] { return ::read(fd.get(), buffer, sizeof buffer); });
        if (n < 0)
            throwErrno(path);
        if (n == 0)
            break;
        content.append(buffer, n);
    }
    return content;
}

int writeAccessFailure(const QByteArray& path)
{
    return ::access(path.constData(), W_OK) == 0 ? 0 : errno;
}

bool existsFollowingLinks(const QByteArray& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0;
}

void ignoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

std::size_t raiseDescriptorLimit()
{
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    return descriptorLimit();
}

std::size_t descriptorLimit()
{
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<std::size_t>::max();
    return std::size_t(limit.rlim_cur);
}

} // namespace ov::fs
