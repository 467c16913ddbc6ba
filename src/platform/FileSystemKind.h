#pragma once

#include <QByteArray>
#include <QString>

namespace ov {

// How a file system writes a change to a file's existing bytes, which decides whether
// overwriting a file can reach the blocks that held its data.
enum class WriteKind
{
    InPlace,       // the same blocks are written again (ext4, xfs, FAT, ...)
    CopyOnWrite,   // changes go to new blocks; the old ones keep the data (btrfs, zfs, ...)
    LogStructured, // changes are appended to a log (f2fs, nilfs2)
    MemoryOnly,    // the data lives in memory and swap only (tmpfs, ramfs)
    Remote,        // a server or a user-space daemon decides (NFS, SMB, FUSE)
    // The kernel's interfaces (proc, sysfs, ...): writing there talks to the kernel; there
    // is no stored data to overwrite.
    KernelInterface,
    Unknown,
};

// What else is known of a file system type, beside how it writes.
enum FileSystemTrait : unsigned
{
    kCaseSensitiveNames = 1u << 0,  // names differ by case (and keep it)
    kCasePreservingNames = 1u << 1, // names keep their case but do not differ by it
    kCompressedWhole = 1u << 2,     // every file is stored compressed (read-only images)
    kOwnerReserve = 1u << 3,        // blocks kept for root (or a named user): ext2/3/4
    kNetworkShare = 1u << 4,        // a share of another machine
    kOptical = 1u << 5,             // a disc image's file system
    kNotAVolume = 1u << 6,          // the kernel's or a desktop's own: listed as no volume
    // Deleted names stay in a journal, a log or released metadata, which the free-space
    // run's names step knows how to overwrite.
    kNamesInJournal = 1u << 7,
};

struct FileSystemKind
{
    QByteArray name; // "ext4", "btrfs", ... as the kernel names it; empty when unknown
    WriteKind writes = WriteKind::Unknown;
    unsigned traits = 0; // FileSystemTrait
    bool has(FileSystemTrait trait) const { return (traits & trait) != 0; }
};

// By the kernel's name of the file system type (as in /proc/self/mountinfo).
FileSystemKind fileSystemKindByName(const QByteArray& typeName);
// By the f_type of statfs().
FileSystemKind fileSystemKindByMagic(long magic);
// Why overwriting cannot be trusted to reach the old blocks there, in a few words
// ("btrfs writes changes to new blocks (copy-on-write)"); empty for InPlace.
QString writeKindReason(const FileSystemKind& kind);

} // namespace ov
