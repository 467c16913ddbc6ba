#include "platform/FillPlace.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Paths.h"

#include <QList>
#include <QString>

#include <algorithm>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace ov::fillplace {

namespace {

constexpr char kWho[] = "user.ombrevault.run";

bool sameDevice(const QByteArray& a, const QByteArray& b)
{
    struct stat first, second;
    return ::stat(a.constData(), &first) == 0 && ::stat(b.constData(), &second) == 0 &&
           first.st_dev == second.st_dev;
}

// The topmost folder above `folder` (itself included) on the same file system: what
// every run on that volume finds, whichever folder it fills from.
QByteArray topFolderOf(const QByteArray& folder)
{
    char resolved[PATH_MAX];
    if (!::realpath(folder.constData(), resolved))
        return {};
    QByteArray top(resolved);
    struct stat here;
    if (::stat(top.constData(), &here) != 0)
        return {};
    while (top != "/") {
        const qsizetype slash = top.lastIndexOf('/');
        const QByteArray parent = slash <= 0 ? QByteArray("/") : top.left(slash);
        struct stat above;
        if (::stat(parent.constData(), &above) != 0 || above.st_dev != here.st_dev)
            break;
        top = parent;
    }
    return top;
}

// Who holds the whole-file lock on the folder, from the kernel's table of locks (readable
// by every user): "process N, program".
QString lockHolder(const struct stat& folder)
{
    QByteArray table;
    try {
        table = fs::readFile("/proc/locks");
    } catch (const Error&) {
        return {};
    }
    for (const QByteArray& line : table.split('\n')) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:2 0 EOF"; a waiter's line has "->".
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] != "FLOCK" || fields[2] == "->")
            continue;
        const QList<QByteArray> where = fields[5].split(':');
        bool ok[3] = {};
        if (where.size() != 3 || where[0].toUInt(&ok[0], 16) != ::major(folder.st_dev) ||
            where[1].toUInt(&ok[1], 16) != ::minor(folder.st_dev) ||
            where[2].toULongLong(&ok[2]) != folder.st_ino || !ok[0] || !ok[1] || !ok[2])
            continue;
        QString who = QStringLiteral("process ") + QString::fromLatin1(fields[4]);
        QByteArray program;
        try {
            program = fs::readFile("/proc/" + fields[4] + "/comm").trimmed();
        } catch (const Error&) {
        }
        if (!program.isEmpty())
            who += QStringLiteral(", ") + QString::fromLocal8Bit(program);
        return who;
    }
    return {};
}

Error runningAlready(const QString& who, const QByteArray& folder)
{
    return Error(EBUSY,
                 QStringLiteral("Another free-space run is filling this volume (") +
                     (who.isEmpty() ? QStringLiteral("another user's") : who) +
                     QStringLiteral("); wait for it to end, or stop it"),
                 folder);
}

} // namespace

bool onVolume(const QByteArray& folder, const QByteArray& mountPoint)
{
    return sameDevice(folder, mountPoint);
}

std::vector<QByteArray> oneFolderPerVolume(const std::vector<QByteArray>& paths)
{
    std::vector<QByteArray> folders;
    std::vector<dev_t> devices;
    for (const QByteArray& path : paths) {
        QByteArray folder = path.startsWith('/') ? path : joinPath(currentDirectory(), path);
        while (folder.endsWith('/') && folder.size() > 1)
            folder.chop(1);
        struct stat st;
        do {
            const qsizetype slash = folder.lastIndexOf('/');
            folder = slash <= 0 ? QByteArray("/") : folder.left(slash);
        } while ((::stat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) && folder != "/");
        if (::stat(folder.constData(), &st) != 0 ||
            std::find(devices.begin(), devices.end(), st.st_dev) != devices.end())
            continue;
        devices.push_back(st.st_dev);
        folders.push_back(folder);
    }
    return folders;
}

QByteArray writableFolderOn(const QByteArray& mountPoint)
{
    if (folderWritable(mountPoint))
        return mountPoint;
    std::vector<QByteArray> candidates;
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        candidates.emplace_back(home);
    candidates.push_back(currentDirectory());
    candidates.emplace_back("/var/tmp");
    candidates.emplace_back("/tmp");
    for (const QByteArray& folder : candidates) {
        if (!folder.isEmpty() && sameDevice(folder, mountPoint) && folderWritable(folder))
            return folder;
    }
    return {};
}

RunLock RunLock::take(const QByteArray& folder, bool wholeVolume)
{
    // One run per volume, from whatever folder: a lock on the volume's top folder, which
    // any user may open to read and lock.
    const QByteArray top = wholeVolume ? topFolderOf(folder) : QByteArray();
    fs::Descriptor volume;
    if (!top.isEmpty())
        volume =
            fs::Descriptor(::open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
    if (volume.valid()) {
        if (::flock(volume.get(), LOCK_EX | LOCK_NB) == 0)
            return RunLock(std::move(volume), {});
        struct stat held;
        if (errno == EWOULDBLOCK && ::fstat(volume.get(), &held) == 0)
            throw runningAlready(lockHolder(held), folder);
        // A file system that cannot lock a folder (a network share): the folder's own
        // lock file.
    }
    const QByteArray path = joinPath(folder, kName);
    for (;;) {
        // Readable by all, so that another user's run finds it held too.
        const int flags = O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
        fs::Descriptor fd(::open(path.constData(), O_RDWR | flags, 0644));
        if (!fd.valid() && errno == EACCES)
            fd = fs::Descriptor(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.valid())
            throwErrno(path);
        struct stat held;
        if (::fstat(fd.get(), &held) != 0)
            throwErrno(path);
        if (!S_ISREG(held.st_mode))
            throw Error(EINVAL, QStringLiteral("Is not a lock file"), path);
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK)
                throwErrno(path);
            char text[256] = {};
            const ssize_t n = ::fgetxattr(fd.get(), kWho, text, sizeof text - 1);
            const QByteArray who = n > 0 ? QByteArray(text, int(n)) : QByteArray();
            throw runningAlready(QString::fromLocal8Bit(who), folder);
        }
        // A lock file the run before removed after this one opened it is no lock: again.
        struct stat now;
        if (::stat(path.constData(), &now) != 0 || now.st_ino != held.st_ino ||
            now.st_dev != held.st_dev)
            continue;
        // Who holds it, in an attribute: a line of data would be a small file's write,
        // for which ext4 sets aside a stretch of free blocks that the filler then never
        // gets.
        const QByteArray who = "process " + QByteArray::number(::getpid());
        if (::fsetxattr(fd.get(), kWho, who.constData(), size_t(who.size()), 0) != 0) {
            // Where attributes are not kept the second run is refused all the same.
        }
        return RunLock(std::move(fd), path);
    }
}

RunLock::~RunLock()
{
    // Removed while still held, so a run waiting on this file tries afresh (a lock on the
    // volume's top folder has no file of its own).
    if (m_fd.valid() && !m_path.isEmpty())
        ::unlink(m_path.constData());
}

std::vector<Leftover> leftoverFillers(const QByteArray& folder)
{
    std::vector<Leftover> found;
    DIR* stream = ::opendir(folder.constData());
    if (!stream)
        return found;
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith("ovtempx") || !name.endsWith(".dat"))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(stream), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode))
            found.push_back({joinPath(folder, name), std::int64_t(st.st_size)});
    }
    ::closedir(stream);
    std::sort(found.begin(), found.end(),
              [](const Leftover& a, const Leftover& b) { return a.path < b.path; });
    return found;
}

} // namespace ov::fillplace
