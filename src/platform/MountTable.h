#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <vector>

namespace ov {

// One line of /proc/self/mountinfo, escapes decoded.
struct MountRecord
{
    int id = -1; // the mount's own number (statx's STATX_MNT_ID)
    unsigned major = 0;
    unsigned minor = 0;
    QByteArray root;       // the folder of the file system mounted here
    QByteArray mountPoint; // without a trailing "/" except for "/" itself
    QByteArray mountOptions;
    QByteArray fileSystem;
    QByteArray source;
    QByteArray superOptions;

    bool hasOption(const char* name) const; // in either option list, "name" or "name=..."
    // The values of "name=..." (or "name+=..." given once a value) in the file system's
    // own options, escapes decoded.
    QList<QByteArray> optionValues(const char* name) const;
    // An overlay's upper folder (empty for a read-only overlay) and its lower folders,
    // the top one first.
    QByteArray overlayUpper() const;
    QList<QByteArray> overlayLowers() const;
};

// The mounted file systems as the kernel lists them. Reading the table is the only
// system call here; everything else is parsing and rules on its records.
class MountTable
{
public:
    // /proc/self/mountinfo; an empty table when it cannot be read. In a chroot, whose "/"
    // is no mount point, "/" is added as the root of a volume (addProcessRoot).
    static MountTable read();
    static MountTable parse(const QByteArray& mountInfo);
    // Adds "/" for the file system holding the process's root (its device numbers, its
    // statfs type name and read-only state) unless a mount on "/" is listed.
    void addProcessRoot(unsigned major, unsigned minor, const QByteArray& fileSystem,
                        bool readOnly);

    const std::vector<MountRecord>& records() const { return m_records; }
    // The record whose mount point is the root path (a stacked mount: the top one).
    const MountRecord* findRoot(const QByteArray& rootPath) const;
    // The record of the mount with this number; nothing when there is none.
    const MountRecord* findId(int id) const;
    // The mount point of the file system holding a path without links or dots; "/"
    // when no record is closer.
    QByteArray mountPointOf(const QByteArray& canonicalPath) const;

    // Decodes the octal escapes of mountinfo fields (\040 a blank, \134 a backslash).
    static QByteArray decodeOctalEscapes(const QByteArray& field);
    // The kernel's interfaces (proc, sysfs, cgroup, ...), which hold no user data.
    static bool isPseudoFileSystem(const QByteArray& type);
    // A root path without its trailing "/" (but "/" stays "/").
    static QByteArray stripRoot(const QByteArray& rootPath);
    // The volume flags the mount's type and options stand for.
    static std::uint32_t flagsFor(const MountRecord& mount, bool statReadOnly);

private:
    std::vector<MountRecord> m_records;
};

} // namespace ov
