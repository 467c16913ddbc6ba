#include "platform/LinuxVolumes.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <QByteArrayList>
#include <QList>

#include <algorithm>
#include <blkid/blkid.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <mutex>
#include <set>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ov {

namespace {

// Small kernel files (sysfs, mountinfo): empty when they cannot be read.
QByteArray readSmallFile(const QByteArray& path)
{
    try {
        return fs::readFile(path);
    } catch (const Error&) {
        return {};
    }
}

bool optionListHas(const QByteArray& list, const char* name)
{
    const QByteArray wanted(name);
    for (const QByteArray& option : list.split(',')) {
        if (option == wanted || option.startsWith(wanted + "="))
            return true;
    }
    return false;
}

template <std::size_t N> bool oneOf(const QByteArray& value, const char* const (&names)[N])
{
    for (const char* name : names) {
        if (value == name)
            return true;
    }
    return false;
}

// A path is under a mount point when it equals it or continues it after a "/".
bool isUnder(const QByteArray& path, const QByteArray& mountPoint)
{
    if (mountPoint == "/")
        return path.startsWith('/');
    return path == mountPoint || (path.startsWith(mountPoint) && path[mountPoint.size()] == '/');
}

// The block device a mount lives on: its mountinfo numbers, or for file systems that
// report anonymous numbers (btrfs) the device named as the source.
bool deviceNumbers(const MountRecord& mount, unsigned* major, unsigned* minor)
{
    if (mount.major != 0) {
        *major = mount.major;
        *minor = mount.minor;
        return true;
    }
    if (!mount.source.startsWith("/dev/"))
        return false;
    struct stat st;
    if (::stat(mount.source.constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    *major = ::major(st.st_rdev);
    *minor = ::minor(st.st_rdev);
    return true;
}

BlockDeviceFacts blockDeviceFacts(const MountRecord& mount)
{
    BlockDeviceFacts facts;
    unsigned major = 0;
    unsigned minor = 0;
    if (!deviceNumbers(mount, &major, &minor))
        return facts;
    const QByteArray sysLink =
        "/sys/dev/block/" + QByteArray::number(major) + ":" + QByteArray::number(minor);
    char resolved[PATH_MAX];
    if (!::realpath(sysLink.constData(), resolved))
        return facts;
    QByteArray folder(resolved);
    facts.isBlockDevice = true;
    facts.major = major;
    facts.deviceName = folder.mid(folder.lastIndexOf('/') + 1);
    // A partition's flag is its disk's.
    QByteArray disk = folder;
    if (::access((folder + "/partition").constData(), F_OK) == 0)
        disk = folder.left(folder.lastIndexOf('/'));
    facts.removable = readSmallFile(disk + "/removable").trimmed() == "1";
    return facts;
}

// The /dev node of a device: the name sysfs gives it, or the mount source when that is
// the same device.
QByteArray deviceNode(const MountRecord& mount, dev_t* rdev)
{
    unsigned major = 0;
    unsigned minor = 0;
    if (!deviceNumbers(mount, &major, &minor))
        return {};
    *rdev = ::makedev(major, minor);
    struct stat st;
    if (mount.source.startsWith("/dev/") && ::stat(mount.source.constData(), &st) == 0 &&
        S_ISBLK(st.st_mode) && st.st_rdev == *rdev)
        return mount.source;
    const QByteArray uevent = readSmallFile("/sys/dev/block/" + QByteArray::number(major) + ":" +
                                            QByteArray::number(minor) + "/uevent");
    for (const QByteArray& line : uevent.split('\n')) {
        if (line.startsWith("DEVNAME=")) {
            QByteArray node = "/dev/" + line.mid(8);
            if (::stat(node.constData(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == *rdev)
                return node;
        }
    }
    return {};
}

// The name of the udev link in `folder` (by-label, by-uuid) that leads to the device.
QByteArray udevLinkName(const char* folder, dev_t rdev)
{
    QByteArray found;
    DIR* dir = ::opendir(folder);
    if (!dir)
        return found;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISBLK(st.st_mode) &&
            st.st_rdev == rdev) {
            found = LinuxVolumes::decodeHexEscapes(QByteArray(entry->d_name));
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// libblkid, looked up at run time: without it labels and serial numbers come from
// udev's links alone, and the program still runs.
class Blkid
{
public:
    static const Blkid& instance()
    {
        static const Blkid library;
        return library;
    }
    bool loaded() const { return m_handle != nullptr; }

    blkid_probe (*newProbeFromFilename)(const char*) = nullptr;
    int (*enableSuperblocks)(blkid_probe, int) = nullptr;
    int (*setSuperblocksFlags)(blkid_probe, int) = nullptr;
    int (*doSafeprobe)(blkid_probe) = nullptr;
    int (*lookupValue)(blkid_probe, const char*, const char**, size_t*) = nullptr;
    void (*freeProbe)(blkid_probe) = nullptr;

private:
    Blkid()
    {
        void* handle = ::dlopen("libblkid.so.1", RTLD_LAZY | RTLD_LOCAL);
        if (!handle)
            return;
        bool all = bind(handle, "blkid_new_probe_from_filename", newProbeFromFilename) &&
                   bind(handle, "blkid_probe_enable_superblocks", enableSuperblocks) &&
                   bind(handle, "blkid_probe_set_superblocks_flags", setSuperblocksFlags) &&
                   bind(handle, "blkid_do_safeprobe", doSafeprobe) &&
                   bind(handle, "blkid_probe_lookup_value", lookupValue) &&
                   bind(handle, "blkid_free_probe", freeProbe);
        if (!all) {
            ::dlclose(handle);
            return;
        }
        m_handle = handle; // kept for the life of the process
    }
    template <class F> static bool bind(void* handle, const char* name, F& function)
    {
        function = reinterpret_cast<F>(::dlsym(handle, name));
        return function != nullptr;
    }
    void* m_handle = nullptr;
};

struct Identity
{
    QByteArray label;
    QByteArray uuid;
    QByteArray type; // as libblkid names it (ntfs for any NTFS driver)
};

Identity probeIdentity(const MountRecord& mount, bool wantUuid)
{
    Identity identity;
    dev_t rdev = 0;
    const QByteArray node = deviceNode(mount, &rdev);
    if (node.isEmpty())
        return identity;
    identity.label = udevLinkName("/dev/disk/by-label", rdev);
    if (wantUuid)
        identity.uuid = udevLinkName("/dev/disk/by-uuid", rdev);
    if (!identity.label.isEmpty() && (!wantUuid || !identity.uuid.isEmpty()))
        return identity;
    const Blkid& blkid = Blkid::instance();
    if (!blkid.loaded())
        return identity;
    blkid_probe probe = blkid.newProbeFromFilename(node.constData());
    if (!probe)
        return identity;
    blkid.enableSuperblocks(probe, 1);
    blkid.setSuperblocksFlags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    if (blkid.doSafeprobe(probe) == 0) {
        const char* value = nullptr;
        if (identity.label.isEmpty() && blkid.lookupValue(probe, "LABEL", &value, nullptr) == 0)
            identity.label = value;
        if (identity.uuid.isEmpty() && blkid.lookupValue(probe, "UUID", &value, nullptr) == 0)
            identity.uuid = value;
        if (blkid.lookupValue(probe, "TYPE", &value, nullptr) == 0)
            identity.type = value;
    }
    blkid.freeProbe(probe);
    return identity;
}

} // namespace

// Roots whose query is still running after the time limit: asking again would only
// leave one more thread stuck in the kernel.
struct LinuxVolumes::Busy
{
    std::mutex mutex;
    std::set<QByteArray> keys;

    bool enter(const QByteArray& key)
    {
        std::lock_guard lock(mutex);
        return keys.insert(key).second;
    }
    void leave(const QByteArray& key)
    {
        std::lock_guard lock(mutex);
        keys.erase(key);
    }
};

bool MountRecord::hasOption(const char* name) const
{
    return optionListHas(mountOptions, name) || optionListHas(superOptions, name);
}

LinuxVolumes::LinuxVolumes(EngineHost& host, std::chrono::milliseconds limit)
    : m_host(host), m_limit(limit), m_busy(std::make_shared<Busy>())
{}

LinuxVolumes::~LinuxVolumes() = default;

QByteArray LinuxVolumes::decodeOctalEscapes(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1];
            const char b = field[i + 2];
            const char d = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && d >= '0' && d <= '7') {
                out.append(char(((a - '0') << 6) | ((b - '0') << 3) | (d - '0')));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

QByteArray LinuxVolumes::decodeHexEscapes(const QByteArray& name)
{
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            bool ok = false;
            const int value = name.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(name[i]);
    }
    return out;
}

std::vector<MountRecord> LinuxVolumes::parseMountInfo(const QByteArray& text)
{
    std::vector<MountRecord> table;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mountpoint options [optional...] - type source super
        const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
        if (fields.size() < 7 || separator < 0 || separator + 2 >= fields.size())
            continue;
        MountRecord record;
        const QList<QByteArray> numbers = fields[2].split(':');
        if (numbers.size() == 2) {
            record.major = numbers[0].toUInt();
            record.minor = numbers[1].toUInt();
        }
        record.root = decodeOctalEscapes(fields[3]);
        record.mountPoint = stripRoot(decodeOctalEscapes(fields[4]));
        record.mountOptions = fields[5];
        record.fileSystem = decodeOctalEscapes(fields[separator + 1]);
        record.source = decodeOctalEscapes(fields[separator + 2]);
        if (separator + 3 < fields.size())
            record.superOptions = fields[separator + 3];
        table.push_back(std::move(record));
    }
    return table;
}

std::vector<MountRecord> LinuxVolumes::readMountTable()
{
    return parseMountInfo(readSmallFile("/proc/self/mountinfo"));
}

bool LinuxVolumes::isPseudoFileSystem(const QByteArray& type)
{
    static const char* const pseudo[] = {
        "proc",        "sysfs",       "cgroup",      "cgroup2",      "devpts",
        "devtmpfs",    "mqueue",      "debugfs",     "tracefs",      "securityfs",
        "pstore",      "bpf",         "configfs",    "fusectl",      "hugetlbfs",
        "autofs",      "binfmt_misc", "efivarfs",    "nsfs",         "rpc_pipefs",
        "selinuxfs",   "smackfs",     "apparmorfs",  "nfsd",         "fuse.gvfsd-fuse",
        "fuse.portal", "sockfs",      "pipefs",      "anon_inodefs", "cpuset",
        "binder",      "rootfs",      "usbfs",       "xenfs",        "ipathfs",
        "oprofilefs",  "dlmfs",       "ocfs2_dlmfs",
    };
    return oneOf(type, pseudo);
}

std::uint32_t LinuxVolumes::serialFromUuid(const QByteArray& uuid, const QByteArray& type)
{
    QByteArray digits;
    for (char c : uuid) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            digits.append(c);
    }
    if (digits.isEmpty())
        return 0;
    // An NTFS serial is 64 bits wide; the volume's 32-bit serial is its low half. A FAT
    // or exFAT volume ID (1A2B-3C4D) is the serial itself; any other UUID gives its
    // first 32 bits.
    const bool ntfs = type == "ntfs" || type == "ntfs3";
    const QByteArray part = ntfs ? digits.right(8) : digits.left(8);
    return std::uint32_t(part.toULongLong(nullptr, 16));
}

std::uint32_t LinuxVolumes::flagsFor(const MountRecord& mount, bool statReadOnly)
{
    static const char* const caseSensitive[] = {
        "ext2",     "ext3",  "ext4",   "xfs",      "btrfs", "tmpfs",  "ramfs",    "f2fs", "jfs",
        "reiserfs", "zfs",   "nilfs2", "squashfs", "erofs", "cramfs", "bcachefs", "nfs",  "nfs4",
        "ntfs",     "ntfs3", "9p",     "overlay",  "minix", "ubifs",  "jffs2",
    };
    static const char* const casePreserving[] = {"vfat", "exfat"};
    static const char* const compressedWhole[] = {"squashfs", "erofs", "cramfs"};
    const QByteArray& type = mount.fileSystem;
    std::uint32_t flags = 0;
    if (oneOf(type, caseSensitive))
        flags |= kCaseSensitiveSearch | kCasePreservedNames;
    else if (oneOf(type, casePreserving))
        flags |= kCasePreservedNames;
    if (oneOf(type, compressedWhole) ||
        (type == "btrfs" && (mount.hasOption("compress") || mount.hasOption("compress-force"))))
        flags |= kVolumeIsCompressed;
    if (statReadOnly || mount.hasOption("ro"))
        flags |= kReadOnlyVolume;
    return flags;
}

int LinuxVolumes::driveTypeFor(const MountRecord& mount, const BlockDeviceFacts& device)
{
    static const char* const optical[] = {"iso9660", "udf"};
    static const char* const remote[] = {
        "nfs",   "nfs4",   "cifs",        "smb3",           "smbfs",     "ncpfs",
        "ncp",   "afs",    "ceph",        "glusterfs",      "9p",        "fuse.sshfs",
        "sshfs", "davfs",  "fuse.davfs2", "fuse.glusterfs", "fuse.s3fs", "fuse.rclone",
        "coda",  "lustre", "fuse.cephfs", "fuse.curlftpfs", "orangefs",
    };
    static const char* const ram[] = {"tmpfs", "ramfs"};
    const QByteArray& type = mount.fileSystem;
    if ((device.isBlockDevice && (device.deviceName.startsWith("sr") || device.major == 11)) ||
        oneOf(type, optical))
        return kDriveCdRom;
    if (device.isBlockDevice && device.removable)
        return kDriveRemovable;
    if (oneOf(type, remote))
        return kDriveRemote;
    if (oneOf(type, ram) || (device.isBlockDevice && (device.deviceName.startsWith("ram") ||
                                                      device.deviceName.startsWith("zram"))))
        return kDriveRamDisk;
    if (device.isBlockDevice)
        return kDriveFixed;
    return kDriveUnknown;
}

QByteArray LinuxVolumes::stripRoot(const QByteArray& rootPath)
{
    QByteArray path = rootPath;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

const MountRecord* LinuxVolumes::findRoot(const std::vector<MountRecord>& table,
                                          const QByteArray& rootPath)
{
    const QByteArray wanted = stripRoot(rootPath);
    const MountRecord* found = nullptr;
    for (const MountRecord& record : table) {
        if (record.mountPoint == wanted)
            found = &record; // a later mount on the same point hides the earlier one
    }
    return found;
}

namespace {

// Runs a query through the event host with a time limit; nothing when it did not finish.
// The call owns copies of everything it touches, so it may finish after we gave up.
template <class T, class Query>
std::optional<T> limitedQuery(EngineHost& host, std::chrono::milliseconds limit,
                              const std::shared_ptr<LinuxVolumes::Busy>& busy,
                              const QByteArray& key, Query query)
{
    if (!busy->enter(key))
        return std::nullopt;
    auto answer = std::make_shared<std::optional<T>>();
    const bool finished = host.runBlockingFor(
        [answer, busy, key, query] {
            // Released however the query ends, or the root would never be asked again.
            struct Leave
            {
                LinuxVolumes::Busy& busy;
                const QByteArray& key;
                ~Leave() { busy.leave(key); }
            } leave{*busy, key};
            *answer = query();
        },
        limit);
    if (!finished)
        return std::nullopt;
    return *answer;
}

// statvfs of a mount root; nothing when the path is not the root of a mounted file
// system (a folder left behind by a lazy unmount is not) or the call fails.
std::optional<struct statvfs> statMountRoot(const QByteArray& rootPath, bool knownRoot)
{
    if (!knownRoot) {
        struct statx sx;
        if (::statx(AT_FDCWD, rootPath.constData(), AT_SYMLINK_NOFOLLOW, 0, &sx) != 0)
            return std::nullopt;
        if ((sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
            !(sx.stx_attributes & STATX_ATTR_MOUNT_ROOT))
            return std::nullopt;
        if (!(sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
            !LinuxVolumes::findRoot(LinuxVolumes::readMountTable(), rootPath))
            return std::nullopt;
    }
    struct statvfs sv;
    int rc;
    do {
        rc = ::statvfs(rootPath.constData(), &sv);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return std::nullopt;
    return sv;
}

} // namespace

bool LinuxVolumes::hasExport(const char* module, const char* function)
{
    // A library already in the process is only looked at; one loaded for the question
    // is unloaded again. Both opens take a reference that the dlclose gives back.
    void* handle = ::dlopen(module, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        handle = ::dlopen(module, RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        return false;
    const bool found = ::dlsym(handle, function) != nullptr;
    ::dlclose(handle);
    return found;
}

std::optional<struct statvfs> LinuxVolumes::spaceOf(const QByteArray& rootPath)
{
    const QByteArray path = rootPath;
    auto sv = limitedQuery<struct statvfs>(m_host, m_limit, m_busy, "space:" + path,
                                           [path] { return statMountRoot(path, false); });
    // The unit of the block counts; a file system that leaves it 0 counts in f_bsize.
    if (sv && sv->f_frsize == 0)
        sv->f_frsize = sv->f_bsize;
    return sv;
}

std::optional<SpaceFigures> LinuxVolumes::querySpaceEx(const QByteArray& rootPath)
{
    const std::optional<struct statvfs> sv = spaceOf(rootPath);
    if (!sv)
        return std::nullopt;
    SpaceFigures figures;
    const std::uint64_t unit = sv->f_frsize;
    figures.availableBytes = std::uint64_t(sv->f_bavail) * unit;
    figures.totalBytes = std::uint64_t(sv->f_blocks) * unit;
    figures.freeBytes = std::uint64_t(sv->f_bfree) * unit;
    return figures;
}

std::optional<ClusterFigures> LinuxVolumes::queryClusters(const QByteArray& rootPath)
{
    const std::optional<struct statvfs> sv = spaceOf(rootPath);
    if (!sv)
        return std::nullopt;
    ClusterFigures figures;
    const std::uint64_t unit = sv->f_frsize;
    figures.bytesPerSector = unit >= 512 ? 512 : std::uint32_t(unit);
    figures.sectorsPerCluster =
        figures.bytesPerSector ? std::uint32_t(unit / figures.bytesPerSector) : 0;
    auto clamp = [](std::uint64_t count) {
        return count > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(count);
    };
    figures.freeClusters = clamp(sv->f_bfree);
    figures.totalClusters = clamp(sv->f_blocks);
    return figures;
}

std::optional<VolumeFacts> LinuxVolumes::queryVolume(const QByteArray& rootPath)
{
    const std::vector<MountRecord> table = readMountTable();
    const MountRecord* found = findRoot(table, rootPath);
    if (!found)
        return std::nullopt;
    const MountRecord mount = *found;
    const QByteArray path = rootPath;
    return limitedQuery<VolumeFacts>(
        m_host, m_limit, m_busy, "volume:" + path, [path, mount]() -> std::optional<VolumeFacts> {
            auto sv = statMountRoot(path, true);
            if (!sv)
                return std::nullopt;
            const Identity identity = probeIdentity(mount, true);
            VolumeFacts facts;
            facts.label = identity.label;
            facts.fileSystem = mount.fileSystem;
            facts.serialNumber = serialFromUuid(
                identity.uuid, identity.type.isEmpty() ? mount.fileSystem : identity.type);
            facts.maxComponentLength = std::uint32_t(sv->f_namemax);
            facts.flags = flagsFor(mount, (sv->f_flag & ST_RDONLY) != 0);
            return facts;
        });
}

int LinuxVolumes::driveType(const QByteArray& rootPath)
{
    const std::vector<MountRecord> table = readMountTable();
    const MountRecord* mount = findRoot(table, rootPath);
    if (!mount)
        return kDriveNoRootDir;
    // sysfs and /dev answer at once whatever the state of the file system itself.
    return driveTypeFor(*mount, blockDeviceFacts(*mount));
}

bool LinuxVolumes::setLabel(const QByteArray&, const QByteArray&)
{
    // Relabelling needs the file system's own tool and root; the program offers none.
    return false;
}

std::vector<MountEntry> LinuxVolumes::mounts()
{
    const std::vector<MountRecord> table = readMountTable();
    std::vector<MountEntry> entries;
    for (const MountRecord& record : table) {
        if (isPseudoFileSystem(record.fileSystem))
            continue;
        MountEntry entry;
        entry.mountPoint = record.mountPoint;
        auto same = std::find_if(entries.begin(), entries.end(), [&](const MountEntry& e) {
            return e.mountPoint == entry.mountPoint;
        });
        if (same != entries.end())
            *same = entry; // a mount stacked on the same point: the top one counts
        else
            entries.push_back(entry);
    }
    // Labels come from block devices, which a dying disk can keep waiting: all of them
    // in one limited call, and none when it does not come back in time.
    std::vector<MountRecord> records;
    for (const MountEntry& entry : entries) {
        const MountRecord* record = findRoot(table, entry.mountPoint);
        records.push_back(record ? *record : MountRecord{});
    }
    auto labels = limitedQuery<std::vector<QByteArray>>(
        m_host, m_limit, m_busy, QByteArray("labels"), [records] {
            std::vector<QByteArray> found;
            for (const MountRecord& record : records)
                found.push_back(probeIdentity(record, false).label);
            return std::optional<std::vector<QByteArray>>(found);
        });
    if (labels && labels->size() == entries.size()) {
        for (std::size_t i = 0; i < entries.size(); ++i)
            entries[i].label = (*labels)[i];
    }
    return entries;
}

std::optional<QByteArray> LinuxVolumes::mountPointOf(const QByteArray& path)
{
    const QByteArray wanted = path;
    auto canonical = limitedQuery<QByteArray>(m_host, m_limit, m_busy, "path:" + wanted,
                                              [wanted]() -> std::optional<QByteArray> {
                                                  char resolved[PATH_MAX];
                                                  if (!::realpath(wanted.constData(), resolved))
                                                      return std::nullopt;
                                                  return QByteArray(resolved);
                                              });
    if (!canonical)
        return std::nullopt;
    QByteArray best;
    for (const MountRecord& record : readMountTable()) {
        if (isUnder(*canonical, record.mountPoint) && record.mountPoint.size() >= best.size())
            best = record.mountPoint;
    }
    if (best.isEmpty())
        best = "/";
    return best;
}

} // namespace ov
