#include "platform/Layers.h"

#include "platform/BlockDevices.h"
#include "platform/Error.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ov::fs {

namespace {

QByteArray readSmall(const QByteArray& path)
{
    try {
        return readFile(path).trimmed();
    } catch (const Error&) {
        return {};
    }
}

bool allDigits(const char* name)
{
    if (!*name)
        return false;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9')
            return false;
    }
    return true;
}

} // namespace

namespace {

std::optional<int> mountIdOf(const Descriptor& entry, BlockingRunner& runner)
{
    return runner.blocking([&]() -> std::optional<int> {
        struct statx sx = {};
        if (::statx(entry.get(), "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &sx) != 0 ||
            !(sx.stx_mask & STATX_MNT_ID))
            return std::nullopt;
        return int(sx.stx_mnt_id);
    });
}

} // namespace

std::optional<MountRecord> LayerCache::mountOf(const Descriptor& entry, BlockingRunner& runner)
{
    const std::optional<int> id = mountIdOf(entry, runner);
    if (!id)
        return std::nullopt;
    if (!m_table || !m_table->findId(*id)) {
        m_table = runner.blocking([] { return MountTable::read(); });
    }
    if (const MountRecord* record = m_table->findId(*id))
        return *record;
    return std::nullopt;
}

FileSystemKind LayerCache::kindOf(const Descriptor& entry, dev_t device, const QByteArray& path,
                                  BlockingRunner& runner)
{
    auto known = m_kinds.find(device);
    if (known == m_kinds.end())
        known = m_kinds.emplace(device, fileSystemOf(entry, path, runner)).first;
    return known->second;
}

std::optional<LayerCache::Device> LayerCache::deviceOf(const MountRecord& mount)
{
    const auto numbers = blockDeviceOf(mount);
    if (!numbers)
        return std::nullopt;
    auto known = m_devices.find(*numbers);
    if (known == m_devices.end()) {
        Device device;
        device.mayKeepOldCopies = BlockDevices::mayKeepOldCopies(numbers->first, numbers->second);
        device.loop = loopImageOf(numbers->first, numbers->second);
        known = m_devices.emplace(*numbers, std::move(device)).first;
    }
    return known->second;
}

std::optional<MountRecord> mountOf(const Descriptor& entry, BlockingRunner& runner)
{
    const std::optional<int> id = mountIdOf(entry, runner);
    if (!id)
        return std::nullopt;
    const MountTable table = runner.blocking([] { return MountTable::read(); });
    if (const MountRecord* record = table.findId(*id))
        return *record;
    return std::nullopt;
}

std::optional<QByteArray> resolvedPath(const Folder& folder, BlockingRunner& runner)
{
    return runner.blocking([&]() -> std::optional<QByteArray> {
        const QByteArray link = "/proc/self/fd/" + QByteArray::number(folder.fd());
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer);
        if (n <= 0 || size_t(n) >= sizeof buffer || buffer[0] != '/')
            return std::nullopt;
        return QByteArray(buffer, n);
    });
}

std::optional<LoopImage> loopImageOf(unsigned major, unsigned minor)
{
    const QByteArray folder =
        "/sys/dev/block/" + QByteArray::number(major) + ':' + QByteArray::number(minor);
    const QByteArray image = readSmall(folder + "/loop/backing_file");
    if (image.isEmpty())
        return std::nullopt;
    return LoopImage{image, off_t(readSmall(folder + "/loop/offset").toLongLong())};
}

std::optional<std::pair<unsigned, unsigned>> blockDeviceOf(const MountRecord& mount)
{
    if (mount.major != 0)
        return std::pair{mount.major, mount.minor};
    struct stat st;
    if (!mount.source.startsWith("/dev/") || ::stat(mount.source.constData(), &st) != 0 ||
        !S_ISBLK(st.st_mode))
        return std::nullopt;
    return std::pair{unsigned(::major(st.st_rdev)), unsigned(::minor(st.st_rdev))};
}

QStringList holdersOf(Identity file, BlockingRunner& runner)
{
    return runner.blocking([&] {
        QStringList holders;
        DIR* processes = ::opendir("/proc");
        if (!processes)
            return holders;
        const QByteArray self = QByteArray::number(qlonglong(::getpid()));
        while (const dirent* process = ::readdir(processes)) {
            if (!allDigits(process->d_name) || self == process->d_name)
                continue;
            const QByteArray folder = QByteArray("/proc/") + process->d_name;
            DIR* fds = ::opendir((folder + "/fd").constData());
            if (!fds)
                continue; // not this user's to look at
            bool holds = false;
            while (const dirent* fd = ::readdir(fds)) {
                struct stat st;
                if (allDigits(fd->d_name) &&
                    ::stat((folder + "/fd/" + fd->d_name).constData(), &st) == 0 &&
                    st.st_dev == file.device && st.st_ino == file.inode) {
                    holds = true;
                    break;
                }
            }
            ::closedir(fds);
            if (holds)
                holders << QStringLiteral("%1 (process %2)")
                               .arg(QString::fromLocal8Bit(readSmall(folder + "/comm")),
                                    QString::fromLatin1(process->d_name));
        }
        ::closedir(processes);
        return holders;
    });
}

} // namespace ov::fs
