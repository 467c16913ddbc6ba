#include "platform/LinuxVolumes.h"

#include "platform/FileSystemKind.h"

#include "platform/BlockDevices.h"
#include "platform/BtrfsSnapshots.h"
#include "platform/Error.h"
#include "platform/MountTable.h"
#include "platform/NameTraces.h"

#include <algorithm>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/capability.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ov {

namespace {

// statvfs of a mount root; nothing when the path is not the root of a mounted file
// system (a folder left behind by a lazy unmount is not) or the call fails.
std::optional<struct statvfs> statMountRoot(const QByteArray& rootPath, bool knownRoot)
{
    // The process's root is the top of a volume for it, even in a chroot.
    if (!knownRoot && rootPath != "/") {
        struct statx sx;
        if (::statx(AT_FDCWD, rootPath.constData(), AT_SYMLINK_NOFOLLOW, 0, &sx) != 0)
            return std::nullopt;
        if ((sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
            !(sx.stx_attributes & STATX_ATTR_MOUNT_ROOT))
            return std::nullopt;
        if (!(sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
            !MountTable::read().findRoot(rootPath))
            return std::nullopt;
    }
    struct statvfs sv;
    int rc;
    do {
        rc = ::statvfs(rootPath.constData(), &sv);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return std::nullopt;
    // The unit of the block counts; a file system that leaves it 0 counts in f_bsize.
    if (sv.f_frsize == 0)
        sv.f_frsize = sv.f_bsize;
    return sv;
}

} // namespace

LinuxVolumes::LinuxVolumes(BlockingRunner& runner, std::chrono::milliseconds limit, bool identities)
    : m_queries(runner, limit), m_identities(identities)
{}

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

std::optional<LinuxVolumes::Space> LinuxVolumes::spaceOf(const QByteArray& rootPath)
{
    const QByteArray path = rootPath;
    return m_queries.ask<Space>("space:" + path, [path]() -> std::optional<Space> {
        const std::optional<struct statvfs> sv = statMountRoot(path, false);
        if (!sv)
            return std::nullopt;
        return Space{sv->f_frsize, sv->f_blocks, sv->f_bfree, sv->f_bavail};
    });
}

std::optional<SpaceFigures> LinuxVolumes::querySpaceEx(const QByteArray& rootPath)
{
    const std::optional<Space> space = spaceOf(rootPath);
    if (!space)
        return std::nullopt;
    return SpaceFigures{space->available * space->unit, space->blocks * space->unit,
                        space->free * space->unit, space->unit};
}

std::optional<ClusterFigures> LinuxVolumes::queryClusters(const QByteArray& rootPath)
{
    const std::optional<Space> space = spaceOf(rootPath);
    if (!space)
        return std::nullopt;
    ClusterFigures figures;
    figures.bytesPerSector = space->unit >= 512 ? 512 : std::uint32_t(space->unit);
    figures.sectorsPerCluster =
        figures.bytesPerSector ? std::uint32_t(space->unit / figures.bytesPerSector) : 0;
    auto clamp = [](std::uint64_t count) {
        return count > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(count);
    };
    figures.freeClusters = clamp(space->free);
    figures.totalClusters = clamp(space->blocks);
    return figures;
}

std::optional<VolumeFacts> LinuxVolumes::queryVolume(const QByteArray& rootPath)
{
    const MountTable table = MountTable::read();
    const MountRecord* found = table.findRoot(rootPath);
    if (!found)
        return std::nullopt;
    const MountRecord mount = *found;
    const QByteArray path = rootPath;
    const bool identities = m_identities;
    return m_queries.ask<VolumeFacts>(
        "volume:" + path, [path, mount, identities]() -> std::optional<VolumeFacts> {
            const std::optional<struct statvfs> sv = statMountRoot(path, true);
            if (!sv)
                return std::nullopt;
            const VolumeIdentity identity =
                identities ? BlockDevices::identityOf(mount, true) : VolumeIdentity();
            VolumeFacts facts;
            facts.label = identity.label;
            facts.fileSystem = mount.fileSystem;
            facts.serialNumber = BlockDevices::serialFromUuid(
                identity.uuid, identity.type.isEmpty() ? mount.fileSystem : identity.type);
            facts.maxComponentLength = std::uint32_t(sv->f_namemax);
            facts.flags = MountTable::flagsFor(mount, (sv->f_flag & ST_RDONLY) != 0);
            return facts;
        });
}

int LinuxVolumes::driveType(const QByteArray& rootPath)
{
    const MountTable table = MountTable::read();
    const MountRecord* mount = table.findRoot(rootPath);
    if (!mount)
        return kDriveNoRootDir;
    // sysfs and /dev answer at once whatever the state of the file system itself.
    return BlockDevices::driveTypeFor(*mount, BlockDevices::factsOf(*mount));
}

bool LinuxVolumes::setLabel(const QByteArray&, const QByteArray&)
{
    // Relabelling needs the file system's own tool and root; the program offers none.
    return false;
}

std::vector<MountEntry> LinuxVolumes::mounts()
{
    const MountTable table = MountTable::read();
    std::vector<MountEntry> entries;
    for (const MountRecord& record : table.records()) {
        if (MountTable::isPseudoFileSystem(record.fileSystem))
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
        const MountRecord* record = table.findRoot(entry.mountPoint);
        records.push_back(record ? *record : MountRecord{});
    }
    const auto labels = m_queries.ask<std::vector<QByteArray>>("labels", [records] {
        std::vector<QByteArray> found;
        for (const MountRecord& record : records)
            found.push_back(BlockDevices::identityOf(record, false).label);
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
    const auto canonical =
        m_queries.ask<QByteArray>("path:" + wanted, [wanted]() -> std::optional<QByteArray> {
            char resolved[PATH_MAX];
            if (!::realpath(wanted.constData(), resolved))
                return std::nullopt;
            return QByteArray(resolved);
        });
    if (!canonical)
        return std::nullopt;
    return MountTable::read().mountPointOf(*canonical);
}

std::vector<QByteArray> LinuxVolumes::snapshots(const QByteArray& rootPath)
{
    const QByteArray path = MountTable::stripRoot(rootPath);
    return m_queries
        .ask<std::vector<QByteArray>>("snapshots:" + path, [path] { return btrfsSnapshots(path); })
        .value_or(std::vector<QByteArray>());
}

std::uint64_t LinuxVolumes::reserveOutOfReach(const QByteArray& rootPath)
{
    // The reserve is kept for root (unless the volume names another user) and for
    // whoever holds CAP_SYS_RESOURCE. Other file systems count free and available apart
    // for reasons of their own (btrfs: space kept for its metadata), which no user fills.
    if (::geteuid() == 0)
        return 0;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) == 0 &&
        (data[CAP_TO_INDEX(CAP_SYS_RESOURCE)].effective & CAP_TO_MASK(CAP_SYS_RESOURCE)))
        return 0;
    const MountTable table = MountTable::read();
    const MountRecord* mount = table.findRoot(rootPath);
    if (!mount || !fileSystemKindByName(mount->fileSystem).has(kOwnerReserve))
        return 0;
    const std::optional<Space> space = spaceOf(rootPath);
    return space && space->free > space->available ? (space->free - space->available) * space->unit
                                                   : 0;
}

} // namespace ov

namespace ov {

std::vector<KeptBack> LinuxVolumes::keptBack(const QByteArray& rootPath)
{
    const QByteArray path = rootPath;
    return m_queries
        .ask<std::vector<KeptBack>>(
            "kept:" + path,
            [path]() -> std::optional<std::vector<KeptBack>> {
                std::vector<KeptBack> kept;
                InPlaceRunner direct;
                std::optional<fs::Folder> folder;
                try {
                    folder.emplace(fs::Folder::open(path, direct));
                } catch (const Error&) {
                    return kept;
                }
                const QByteArray name = names::fileSystemOf(*folder).name;
                if (name == "xfs") {
                    // Exact for the administrator; otherwise what xfs sets aside by default.
                    if (const auto bytes = names::xfsReserveBytes(*folder)) {
                        kept.push_back(
                            {KeptBack::Kind::BlockReserve, std::uint64_t(*bytes), false});
                    } else if (const auto geometry = names::xfsGeometry(*folder)) {
                        const std::int64_t blocks =
                            std::min<std::int64_t>(geometry->dataBlocks / 20, 8192);
                        kept.push_back({KeptBack::Kind::BlockReserve,
                                        std::uint64_t(blocks * geometry->blockBytes), true});
                    }
                } else if (name == "ext4") {
                    const auto clusters = names::ext4ReservedClusters(names::deviceNameOf(*folder));
                    if (clusters && *clusters > 0)
                        kept.push_back({KeptBack::Kind::ReservedClusters,
                                        std::uint64_t(*clusters * names::blockBytesOf(*folder)),
                                        false});
                } else if (name == "btrfs") {
                    if (const auto metadata = names::btrfsMetadata(*folder))
                        kept.push_back({KeptBack::Kind::MetadataChunks,
                                        std::uint64_t(metadata->total), false});
                }
                return kept;
            })
        .value_or(std::vector<KeptBack>());
}

} // namespace ov
