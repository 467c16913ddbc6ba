#include "platform/FileSystemKind.h"

#include <linux/magic.h>

namespace ov {

namespace {

struct Known
{
    const char* name;
    long magic; // 0: none to look by
    WriteKind writes;
    unsigned traits;
};

constexpr unsigned kCase = kCaseSensitiveNames;
constexpr unsigned kKernel = kNotAVolume;

// The one table of the file system types the program knows. ext2, ext3 and ext4 share one
// magic number.
const Known kKnown[] = {
    {"ext4", EXT4_SUPER_MAGIC, WriteKind::InPlace, kCase | kOwnerReserve | kNamesInJournal},
    {"ext3", EXT4_SUPER_MAGIC, WriteKind::InPlace, kCase | kOwnerReserve | kNamesInJournal},
    {"ext2", EXT4_SUPER_MAGIC, WriteKind::InPlace, kCase | kOwnerReserve},
    {"xfs", XFS_SUPER_MAGIC, WriteKind::InPlace, kCase | kNamesInJournal},
    {"vfat", MSDOS_SUPER_MAGIC, WriteKind::InPlace, kCasePreservingNames},
    {"msdos", MSDOS_SUPER_MAGIC, WriteKind::InPlace, 0},
    {"exfat", 0x2011BAB0, WriteKind::InPlace, kCasePreservingNames},
    {"ntfs3", 0x7366746e, WriteKind::InPlace, kCase},
    {"ntfs", 0x5346544e, WriteKind::InPlace, kCase},
    {"jfs", 0x3153464a, WriteKind::InPlace, kCase},
    {"reiserfs", REISERFS_SUPER_MAGIC, WriteKind::InPlace, kCase},
    {"hfsplus", 0x482b, WriteKind::InPlace, 0},
    {"minix", 0, WriteKind::InPlace, kCase},
    {"btrfs", BTRFS_SUPER_MAGIC, WriteKind::CopyOnWrite, kCase | kNamesInJournal},
    {"bcachefs", 0xca451a4e, WriteKind::CopyOnWrite, kCase},
    {"zfs", 0x2fc12fc1, WriteKind::CopyOnWrite, kCase},
    {"f2fs", F2FS_SUPER_MAGIC, WriteKind::LogStructured, kCase},
    {"nilfs2", NILFS_SUPER_MAGIC, WriteKind::LogStructured, kCase},
    {"ubifs", 0, WriteKind::LogStructured, kCase},
    {"jffs2", 0, WriteKind::LogStructured, kCase},
    {"squashfs", SQUASHFS_MAGIC, WriteKind::Unknown, kCase | kCompressedWhole},
    {"erofs", 0xE0F5E1E2, WriteKind::Unknown, kCase | kCompressedWhole},
    {"cramfs", 0x28cd3d45, WriteKind::Unknown, kCase | kCompressedWhole},
    {"iso9660", ISOFS_SUPER_MAGIC, WriteKind::Unknown, kOptical},
    {"udf", UDF_SUPER_MAGIC, WriteKind::Unknown, kOptical},
    {"tmpfs", TMPFS_MAGIC, WriteKind::MemoryOnly, kCase},
    {"ramfs", RAMFS_MAGIC, WriteKind::MemoryOnly, kCase},
    {"nfs", NFS_SUPER_MAGIC, WriteKind::Remote, kCase | kNetworkShare},
    {"nfs4", NFS_SUPER_MAGIC, WriteKind::Remote, kCase | kNetworkShare},
    {"cifs", CIFS_SUPER_MAGIC, WriteKind::Remote, kNetworkShare},
    {"smb3", SMB2_SUPER_MAGIC, WriteKind::Remote, kNetworkShare},
    {"smbfs", SMB_SUPER_MAGIC, WriteKind::Remote, kNetworkShare},
    {"ncpfs", NCP_SUPER_MAGIC, WriteKind::Remote, kNetworkShare},
    {"ncp", 0, WriteKind::Remote, kNetworkShare},
    {"afs", AFS_SUPER_MAGIC, WriteKind::Remote, kNetworkShare},
    {"coda", CODA_SUPER_MAGIC, WriteKind::Remote, kNetworkShare},
    {"9p", V9FS_MAGIC, WriteKind::Remote, kCase | kNetworkShare},
    {"ceph", CEPH_SUPER_MAGIC, WriteKind::Remote, kNetworkShare},
    {"glusterfs", 0, WriteKind::Remote, kNetworkShare},
    {"lustre", 0, WriteKind::Remote, kNetworkShare},
    {"orangefs", 0, WriteKind::Remote, kNetworkShare},
    {"sshfs", 0, WriteKind::Remote, kNetworkShare},
    {"davfs", 0, WriteKind::Remote, kNetworkShare},
    {"fuse.sshfs", 0, WriteKind::Remote, kNetworkShare},
    {"fuse.davfs2", 0, WriteKind::Remote, kNetworkShare},
    {"fuse.glusterfs", 0, WriteKind::Remote, kNetworkShare},
    {"fuse.s3fs", 0, WriteKind::Remote, kNetworkShare},
    {"fuse.rclone", 0, WriteKind::Remote, kNetworkShare},
    {"fuse.cephfs", 0, WriteKind::Remote, kNetworkShare},
    {"fuse.curlftpfs", 0, WriteKind::Remote, kNetworkShare},
    {"fuse", FUSE_SUPER_MAGIC, WriteKind::Remote, 0},
    {"fuseblk", FUSE_SUPER_MAGIC, WriteKind::Remote, 0},
    // A desktop's own views of other places, not volumes of their own.
    {"fuse.gvfsd-fuse", 0, WriteKind::Remote, kNotAVolume},
    {"fuse.portal", 0, WriteKind::Remote, kNotAVolume},
    {"overlay", OVERLAYFS_SUPER_MAGIC, WriteKind::Unknown, kCase},
    // The kernel's interfaces: writing there talks to the kernel. tmpfs and ramfs hold
    // real, if volatile, files and are not among these.
    {"proc", PROC_SUPER_MAGIC, WriteKind::KernelInterface, kKernel},
    {"sysfs", SYSFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"debugfs", DEBUGFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"tracefs", TRACEFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"securityfs", SECURITYFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"cgroup", CGROUP_SUPER_MAGIC, WriteKind::KernelInterface, kKernel},
    {"cgroup2", CGROUP2_SUPER_MAGIC, WriteKind::KernelInterface, kKernel},
    {"cpuset", 0, WriteKind::KernelInterface, kKernel},
    {"devpts", DEVPTS_SUPER_MAGIC, WriteKind::KernelInterface, kKernel},
    {"devtmpfs", 0, WriteKind::KernelInterface, kKernel},
    {"pstore", PSTOREFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"bpf", BPF_FS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"configfs", 0x62656570, WriteKind::KernelInterface, kKernel},
    {"efivarfs", EFIVARFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"hugetlbfs", HUGETLBFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"mqueue", 0x19800202, WriteKind::KernelInterface, kKernel},
    {"selinuxfs", SELINUX_MAGIC, WriteKind::KernelInterface, kKernel},
    {"smackfs", SMACK_MAGIC, WriteKind::KernelInterface, kKernel},
    {"apparmorfs", 0, WriteKind::KernelInterface, kKernel},
    {"fusectl", 0x65735543, WriteKind::KernelInterface, kKernel},
    {"binfmt_misc", BINFMTFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"nsfs", NSFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"rpc_pipefs", 0x67596969, WriteKind::KernelInterface, kKernel},
    {"nfsd", 0x6e667364, WriteKind::KernelInterface, kKernel},
    {"autofs", AUTOFS_SUPER_MAGIC, WriteKind::KernelInterface, kKernel},
    {"sockfs", SOCKFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"pipefs", PIPEFS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"anon_inodefs", ANON_INODE_FS_MAGIC, WriteKind::KernelInterface, kKernel},
    {"binder", 0, WriteKind::KernelInterface, kKernel},
    {"rootfs", 0, WriteKind::KernelInterface, kKernel},
    {"usbfs", USBDEVICE_SUPER_MAGIC, WriteKind::KernelInterface, kKernel},
    {"xenfs", 0, WriteKind::KernelInterface, kKernel},
    {"ipathfs", 0, WriteKind::KernelInterface, kKernel},
    {"oprofilefs", 0, WriteKind::KernelInterface, kKernel},
    {"dlmfs", 0, WriteKind::KernelInterface, kKernel},
    {"ocfs2_dlmfs", 0, WriteKind::KernelInterface, kKernel},
};

} // namespace

FileSystemKind fileSystemKindByName(const QByteArray& typeName)
{
    for (const Known& known : kKnown) {
        if (typeName == known.name)
            return {typeName, known.writes, known.traits};
    }
    // "fuse.sshfs" and the like: a daemon in user space.
    if (typeName.startsWith("fuse."))
        return {typeName, WriteKind::Remote, 0};
    return {typeName, WriteKind::Unknown, 0};
}

FileSystemKind fileSystemKindByMagic(long magic)
{
    for (const Known& known : kKnown) {
        if (known.magic != 0 && known.magic == magic)
            return {known.name, known.writes, known.traits};
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
