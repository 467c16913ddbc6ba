#include "platform/FileSystemKind.h"

#include <linux/magic.h>

namespace ov {

namespace {

struct Known
{
    const char* name;
    long magic;
    WriteKind writes;
};

// The file systems a Linux desktop meets. ext2, ext3 and ext4 share one magic number.
const Known kKnown[] = {
    {"ext4", EXT4_SUPER_MAGIC, WriteKind::InPlace},
    {"ext3", EXT4_SUPER_MAGIC, WriteKind::InPlace},
    {"ext2", EXT4_SUPER_MAGIC, WriteKind::InPlace},
    {"xfs", XFS_SUPER_MAGIC, WriteKind::InPlace},
    {"vfat", MSDOS_SUPER_MAGIC, WriteKind::InPlace},
    {"msdos", MSDOS_SUPER_MAGIC, WriteKind::InPlace},
    {"exfat", 0x2011BAB0, WriteKind::InPlace},
    {"ntfs3", 0x7366746e, WriteKind::InPlace},
    {"ntfs", 0x5346544e, WriteKind::InPlace},
    {"jfs", 0x3153464a, WriteKind::InPlace},
    {"reiserfs", REISERFS_SUPER_MAGIC, WriteKind::InPlace},
    {"hfsplus", 0x482b, WriteKind::InPlace},
    {"btrfs", BTRFS_SUPER_MAGIC, WriteKind::CopyOnWrite},
    {"bcachefs", 0xca451a4e, WriteKind::CopyOnWrite},
    {"zfs", 0x2fc12fc1, WriteKind::CopyOnWrite},
    {"f2fs", F2FS_SUPER_MAGIC, WriteKind::LogStructured},
    {"nilfs2", NILFS_SUPER_MAGIC, WriteKind::LogStructured},
    {"tmpfs", TMPFS_MAGIC, WriteKind::MemoryOnly},
    {"ramfs", RAMFS_MAGIC, WriteKind::MemoryOnly},
    {"nfs", NFS_SUPER_MAGIC, WriteKind::Remote},
    {"nfs4", NFS_SUPER_MAGIC, WriteKind::Remote},
    {"cifs", CIFS_SUPER_MAGIC, WriteKind::Remote},
    {"smb3", SMB2_SUPER_MAGIC, WriteKind::Remote},
    {"9p", V9FS_MAGIC, WriteKind::Remote},
    {"ceph", CEPH_SUPER_MAGIC, WriteKind::Remote},
    {"fuse", FUSE_SUPER_MAGIC, WriteKind::Remote},
    {"fuseblk", FUSE_SUPER_MAGIC, WriteKind::Remote},
    {"overlay", OVERLAYFS_SUPER_MAGIC, WriteKind::Unknown},
    // tmpfs and ramfs hold real, if volatile, files and are not among these.
    {"proc", PROC_SUPER_MAGIC, WriteKind::KernelInterface},
    {"sysfs", SYSFS_MAGIC, WriteKind::KernelInterface},
    {"debugfs", DEBUGFS_MAGIC, WriteKind::KernelInterface},
    {"tracefs", TRACEFS_MAGIC, WriteKind::KernelInterface},
    {"securityfs", SECURITYFS_MAGIC, WriteKind::KernelInterface},
    {"cgroup", CGROUP_SUPER_MAGIC, WriteKind::KernelInterface},
    {"cgroup2", CGROUP2_SUPER_MAGIC, WriteKind::KernelInterface},
    {"devpts", DEVPTS_SUPER_MAGIC, WriteKind::KernelInterface},
    {"pstore", PSTOREFS_MAGIC, WriteKind::KernelInterface},
    {"bpf", BPF_FS_MAGIC, WriteKind::KernelInterface},
    {"configfs", 0x62656570, WriteKind::KernelInterface},
    {"efivarfs", EFIVARFS_MAGIC, WriteKind::KernelInterface},
    {"hugetlbfs", HUGETLBFS_MAGIC, WriteKind::KernelInterface},
    {"mqueue", 0x19800202, WriteKind::KernelInterface},
    {"selinuxfs", SELINUX_MAGIC, WriteKind::KernelInterface},
    {"smackfs", SMACK_MAGIC, WriteKind::KernelInterface},
    {"fusectl", 0x65735543, WriteKind::KernelInterface},
    {"binfmt_misc", BINFMTFS_MAGIC, WriteKind::KernelInterface},
    {"nsfs", NSFS_MAGIC, WriteKind::KernelInterface},
    {"rpc_pipefs", 0x67596969, WriteKind::KernelInterface},
    {"nfsd", 0x6e667364, WriteKind::KernelInterface},
    {"autofs", AUTOFS_SUPER_MAGIC, WriteKind::KernelInterface},
};

} // namespace

FileSystemKind fileSystemKindByName(const QByteArray& typeName)
{
    for (const Known& known : kKnown) {
        if (typeName == known.name)
            return {typeName, known.writes};
    }
    // "fuse.sshfs" and the like: a daemon in user space.
    if (typeName.startsWith("fuse."))
        return {typeName, WriteKind::Remote};
    return {typeName, WriteKind::Unknown};
}

FileSystemKind fileSystemKindByMagic(long magic)
{
    for (const Known& known : kKnown) {
        if (known.magic == magic)
            return {known.name, known.writes};
    }
    return {{}, WriteKind::Unknown};
}

QString writeKindReason(const FileSystemKind& kind)
{
    const QString name =
        kind.name.isEmpty() ? QStringLiteral("this file system") : QString::fromLatin1(kind.name);
    switch (kind.writes) {
    case WriteKind::InPlace:
        return {};
    case WriteKind::CopyOnWrite:
        return name + QStringLiteral(" writes changes to new blocks (copy-on-write)");
    case WriteKind::LogStructured:
        return name + QStringLiteral(" appends changes to a log (log-structured)");
    case WriteKind::MemoryOnly:
        return name + QStringLiteral(" keeps files in memory only");
    case WriteKind::Remote:
        return name + QStringLiteral(" leaves where data is written to a server or daemon");
    case WriteKind::KernelInterface:
        return name + QStringLiteral(" holds the kernel's interfaces, not stored data");
    case WriteKind::Unknown:
        break;
    }
    return QStringLiteral("it is not known how ") + name + QStringLiteral(" writes changes");
}

} // namespace ov
