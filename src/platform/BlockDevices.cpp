#include "platform/BlockDevices.h"

#include "platform/FileSystemKind.h"

#include "platform/Descriptor.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Volumes.h"

#include <QList>

#include <blkid/blkid.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ov {

namespace {

// Small kernel files (sysfs): empty when they cannot be read.
QByteArray readSmallFile(const QByteArray& path)
{
    try {
        return fs::readFile(path);
    } catch (const Error&) {
        return {};
    }
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

QByteArray sysfsFolder(unsigned major, unsigned minor)
{
    return "/sys/dev/block/" + QByteArray::number(major) + ":" + QByteArray::number(minor);
}

bool isBlockDevice(const QByteArray& node, dev_t rdev)
{
    struct stat st;
    return ::stat(node.constData(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == rdev;
}

// The /dev node of a device: the mount source when that is the device, otherwise the
// name sysfs gives it.
QByteArray deviceNode(const MountRecord& mount, dev_t* rdev)
{
    unsigned major = 0;
    unsigned minor = 0;
    if (!deviceNumbers(mount, &major, &minor))
        return {};
    *rdev = ::makedev(major, minor);
    if (mount.source.startsWith("/dev/") && isBlockDevice(mount.source, *rdev))
        return mount.source;
    const QByteArray uevent = readSmallFile(sysfsFolder(major, minor) + "/uevent");
    for (const QByteArray& line : uevent.split('\n')) {
        if (line.startsWith("DEVNAME=")) {
            const QByteArray node = "/dev/" + line.mid(8);
            if (isBlockDevice(node, *rdev))
                return node;
        }
    }
    return {};
}

// The name of the udev link in `folder` (by-label, by-uuid) that leads to the device.
QByteArray udevLinkName(const char* folder, dev_t rdev)
{
    fs::Descriptor dir(::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* stream = dir.stream();
    if (!stream)
        return {};
    while (const dirent* entry = ::readdir(stream)) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat st;
        if (::fstatat(dir.get(), entry->d_name, &st, 0) == 0 && S_ISBLK(st.st_mode) &&
            st.st_rdev == rdev)
            return BlockDevices::decodeHexEscapes(QByteArray(entry->d_name));
    }
    return {};
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

} // namespace

BlockDeviceFacts BlockDevices::factsOf(const MountRecord& mount)
{
    BlockDeviceFacts facts;
    unsigned major = 0;
    unsigned minor = 0;
    if (!deviceNumbers(mount, &major, &minor))
        return facts;
    char resolved[PATH_MAX];
    if (!::realpath(sysfsFolder(major, minor).constData(), resolved))
        return facts;
    const QByteArray folder(resolved);
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

VolumeIdentity BlockDevices::identityOf(const MountRecord& mount, bool wantUuid)
{
    VolumeIdentity identity;
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

QByteArray BlockDevices::decodeHexEscapes(const QByteArray& name)
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

std::uint32_t BlockDevices::serialFromUuid(const QByteArray& uuid, const QByteArray& type)
{
    QByteArray digits;
    bool separated = false;
    for (char c : uuid) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            digits.append(c);
        else
            separated = true;
    }
    if (digits.isEmpty())
        return 0;
    // An NTFS serial is 64 bits wide, written as 16 digits without a separator (udev's
    // link names and libblkid alike); the volume's 32-bit serial is its low half, whoever
    // reports it and whatever driver mounted it. A FAT or exFAT volume ID (1A2B-3C4D) is
    // the serial itself; any other UUID gives its first 32 bits.
    const bool ntfs = type == "ntfs" || type == "ntfs3" || (digits.size() == 16 && !separated);
    const QByteArray part = ntfs ? digits.right(8) : digits.left(8);
    return std::uint32_t(part.toULongLong(nullptr, 16));
}

int BlockDevices::driveTypeFor(const MountRecord& mount, const BlockDeviceFacts& device)
{
    const FileSystemKind kind = fileSystemKindByName(mount.fileSystem);
    if ((device.isBlockDevice && (device.deviceName.startsWith("sr") || device.major == 11)) ||
        kind.has(kOptical))
        return kDriveCdRom;
    if (device.isBlockDevice && device.removable)
        return kDriveRemovable;
    if (kind.has(kNetworkShare))
        return kDriveRemote;
    if (kind.writes == WriteKind::MemoryOnly ||
        (device.isBlockDevice &&
         (device.deviceName.startsWith("ram") || device.deviceName.startsWith("zram"))))
        return kDriveRamDisk;
    if (device.isBlockDevice)
        return kDriveFixed;
    return kDriveUnknown;
}

bool BlockDevices::mayKeepOldCopies(const MountRecord& mount)
{
    unsigned major = 0;
    unsigned minor = 0;
    // No block device (network, FUSE, memory): nothing to say about a medium here.
    if (!deviceNumbers(mount, &major, &minor))
        return false;
    return mayKeepOldCopies(major, minor);
}

bool BlockDevices::mayKeepOldCopies(unsigned major, unsigned minor, int depth)
{
    if (depth > 8)
        return true;
    char resolved[PATH_MAX];
    if (!::realpath(sysfsFolder(major, minor).constData(), resolved))
        return true; // nothing known of it
    QByteArray folder(resolved);
    // A partition: the disk it belongs to tells.
    if (!readSmallFile(folder + "/partition").isEmpty())
        folder = folder.left(folder.lastIndexOf('/'));
    const QByteArray name = folder.mid(folder.lastIndexOf('/') + 1);
    // A loop device: the device holding its image.
    const QByteArray image = readSmallFile(folder + "/loop/backing_file").trimmed();
    if (!image.isEmpty()) {
        struct stat st;
        if (::stat(image.constData(), &st) != 0)
            return true;
        // An image on a file system without a block device (tmpfs, network).
        if (::major(st.st_dev) == 0)
            return false;
        return mayKeepOldCopies(::major(st.st_dev), ::minor(st.st_dev), depth + 1);
    }
    // Device-mapper and RAID: any member may.
    if (DIR* members = ::opendir((folder + "/slaves").constData())) {
        bool any = false, may = false;
        while (const dirent* entry = ::readdir(members)) {
            if (entry->d_name[0] == '.')
                continue;
            any = true;
            const QList<QByteArray> numbers =
                readSmallFile(folder + "/slaves/" + entry->d_name + "/dev").trimmed().split(':');
            may = may || numbers.size() != 2 ||
                  mayKeepOldCopies(numbers[0].toUInt(), numbers[1].toUInt(), depth + 1);
        }
        ::closedir(members);
        if (any)
            return may;
    }
    if (readSmallFile(folder + "/queue/rotational").trimmed() != "1" ||
        readSmallFile(folder + "/removable").trimmed() == "1")
        return true;
    // A disk of a virtual machine says it rotates whatever lies under it.
    static const char* const virtualNames[] = {"vd", "xvd", "nbd", "rbd", "zram", "mmcblk"};
    for (const char* prefix : virtualNames) {
        if (name.startsWith(prefix))
            return true;
    }
    const QByteArray vendor = readSmallFile(folder + "/device/vendor").trimmed().toUpper();
    const QByteArray model = readSmallFile(folder + "/device/model").trimmed().toUpper();
    for (const char* word : {"QEMU", "VBOX", "VMWARE", "MSFT", "VIRTUAL", "XEN"}) {
        if (vendor.contains(word) || model.contains(word))
            return true;
    }
    return false;
}

} // namespace ov
