#include "platform/FillPlace.h"

#include "platform/Error.h"
#include "platform/Paths.h"

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

RunLock RunLock::take(const QByteArray& folder)
{
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
            throw Error(EBUSY,
                        QStringLiteral("Another free-space run is filling this volume (") +
                            (who.isEmpty() ? QStringLiteral("another user's")
                                           : QString::fromLocal8Bit(who)) +
                            QStringLiteral("); wait for it to end, or stop it"),
                        folder);
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
    // Removed while still held, so a run waiting on this file tries afresh.
    if (m_fd.valid())
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
