#include "platform/BtrfsSnapshots.h"

#include "platform/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <linux/magic.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace ov {

namespace {

bool anyByte(const __u8 (&bytes)[BTRFS_UUID_SIZE])
{
    return std::any_of(std::begin(bytes), std::end(bytes), [](__u8 byte) { return byte != 0; });
}

struct Subvolume
{
    std::uint64_t parent = 0; // the tree holding its name; 0 until its back reference is seen
    std::uint64_t dirid = 0;  // the folder of that tree holding the name
    QByteArray name;
    bool snapshot = false;
};

// Every subvolume of the file system from the tree of tree roots: its name, where the
// name is, and whether it is a snapshot (it has a parent UUID). Needs CAP_SYS_ADMIN:
// nothing (EPERM) otherwise.
std::optional<std::map<std::uint64_t, Subvolume>> searchRootTree(int fd)
{
    constexpr std::size_t kBufferSize = 64 * 1024;
    std::vector<std::uint64_t> storage((sizeof(btrfs_ioctl_search_args_v2) + kBufferSize) / 8 + 1);
    auto* args = reinterpret_cast<btrfs_ioctl_search_args_v2*>(storage.data());
    const char* buffer = reinterpret_cast<const char*>(args->buf);
    btrfs_ioctl_search_key& key = args->key;
    key.tree_id = BTRFS_ROOT_TREE_OBJECTID;
    key.min_objectid = BTRFS_FIRST_FREE_OBJECTID;
    key.max_objectid = BTRFS_LAST_FREE_OBJECTID;
    key.min_type = BTRFS_ROOT_ITEM_KEY;
    key.max_type = BTRFS_ROOT_BACKREF_KEY;
    key.max_offset = ~0ULL;
    key.max_transid = ~0ULL;
    std::map<std::uint64_t, Subvolume> subvolumes;
    for (;;) {
        key.nr_items = 4096;
        args->buf_size = kBufferSize;
        if (::ioctl(fd, BTRFS_IOC_TREE_SEARCH_V2, args) != 0)
            return std::nullopt;
        if (key.nr_items == 0)
            return subvolumes;
        std::size_t at = 0;
        btrfs_ioctl_search_header last{};
        for (std::uint32_t i = 0; i < key.nr_items; ++i) {
            std::memcpy(&last, buffer + at, sizeof last);
            const char* item = buffer + at + sizeof last;
            at += sizeof last + last.len;
            if (last.type == BTRFS_ROOT_ITEM_KEY &&
                last.len >= offsetof(btrfs_root_item, parent_uuid) + BTRFS_UUID_SIZE) {
                btrfs_root_item root;
                std::memcpy(&root, item, std::min<std::size_t>(last.len, sizeof root));
                subvolumes[last.objectid].snapshot = anyByte(root.parent_uuid);
            } else if (last.type == BTRFS_ROOT_BACKREF_KEY && last.len >= sizeof(btrfs_root_ref)) {
                btrfs_root_ref ref;
                std::memcpy(&ref, item, sizeof ref);
                Subvolume& subvolume = subvolumes[last.objectid];
                subvolume.parent = last.offset;
                subvolume.dirid = ref.dirid;
                subvolume.name = QByteArray(
                    item + sizeof ref, std::min<int>(ref.name_len, int(last.len - sizeof ref)));
            }
        }
        // On from the key after the last one returned.
        key.min_objectid = last.objectid;
        key.min_type = last.type;
        key.min_offset = last.offset + 1;
        if (last.offset == ~0ULL) {
            key.min_offset = 0;
            if (++key.min_type > BTRFS_ROOT_BACKREF_KEY) {
                key.min_type = BTRFS_ROOT_ITEM_KEY;
                ++key.min_objectid;
            }
        }
        if (key.min_objectid > BTRFS_LAST_FREE_OBJECTID)
            return subvolumes;
    }
}

// The path of a subvolume from the top level, through the trees holding its name.
QByteArray pathFromTop(int fd, std::uint64_t id, const std::map<std::uint64_t, Subvolume>& all,
                       int depth = 0)
{
    const auto it = all.find(id);
    if (it == all.end() || it->second.parent == 0 || depth > 64)
        return {};
    const Subvolume& subvolume = it->second;
    QByteArray path;
    if (subvolume.parent != BTRFS_FS_TREE_OBJECTID)
        path = pathFromTop(fd, subvolume.parent, all, depth + 1) + "/";
    btrfs_ioctl_ino_lookup_args lookup{};
    lookup.treeid = subvolume.parent;
    lookup.objectid = subvolume.dirid;
    if (::ioctl(fd, BTRFS_IOC_INO_LOOKUP, &lookup) == 0)
        path += QByteArray(lookup.name); // the folder, with a trailing "/" unless the top
    return path + subvolume.name;
}

// The snapshots inside the subvolume held by `fd`, as paths under `prefix`, with the
// calls any user may make.
void walkSubvolume(int fd, const QByteArray& prefix, std::vector<QByteArray>& found, int depth)
{
    if (depth > 16)
        return;
    btrfs_ioctl_get_subvol_rootref_args refs{};
    for (;;) {
        const int rc = ::ioctl(fd, BTRFS_IOC_GET_SUBVOL_ROOTREF, &refs);
        if (rc != 0 && errno != EOVERFLOW)
            return;
        const bool more = rc != 0;
        for (int i = 0; i < refs.num_items; ++i) {
            btrfs_ioctl_ino_lookup_user_args lookup{};
            lookup.dirid = refs.rootref[i].dirid;
            lookup.treeid = refs.rootref[i].treeid;
            if (::ioctl(fd, BTRFS_IOC_INO_LOOKUP_USER, &lookup) != 0)
                continue;
            const QByteArray relative = QByteArray(lookup.path) + lookup.name;
            fs::Descriptor child(::openat(fd, relative.constData(),
                                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
            btrfs_ioctl_get_subvol_info_args info{};
            // The kernel may answer a success with 1 (a search that ended beside its key).
            if (!child.valid() || ::ioctl(child.get(), BTRFS_IOC_GET_SUBVOL_INFO, &info) < 0)
                continue;
            if (anyByte(info.parent_uuid))
                found.push_back(prefix + relative);
            walkSubvolume(child.get(), prefix + relative + "/", found, depth + 1);
        }
        if (!more || refs.num_items == 0)
            return;
        refs.min_treeid = refs.rootref[refs.num_items - 1].treeid + 1;
    }
}

} // namespace

std::optional<std::vector<QByteArray>> btrfsSnapshots(const QByteArray& mountRoot)
{
    fs::Descriptor root(::open(mountRoot.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct statfs st;
    if (!root.valid() || ::fstatfs(root.get(), &st) != 0)
        return std::nullopt;
    std::vector<QByteArray> found;
    if (st.f_type != BTRFS_SUPER_MAGIC)
        return found;
    if (const auto all = searchRootTree(root.get())) {
        for (const auto& [id, subvolume] : *all) {
            if (subvolume.snapshot && subvolume.parent != 0)
                found.push_back(pathFromTop(root.get(), id, *all));
        }
        return found;
    }
    QByteArray prefix = mountRoot;
    if (!prefix.endsWith('/'))
        prefix += '/';
    walkSubvolume(root.get(), prefix, found, 0);
    return found;
}

} // namespace ov
