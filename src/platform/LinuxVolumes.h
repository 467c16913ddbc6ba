#pragma once

#include "platform/EngineHost.h"
#include "platform/Volumes.h"

#include <chrono>
#include <memory>
#include <sys/statvfs.h>

namespace ov {

// One line of /proc/self/mountinfo, escapes decoded.
struct MountRecord
{
    unsigned major = 0;
    unsigned minor = 0;
    QByteArray root;       // the folder of the file system mounted here
    QByteArray mountPoint; // without a trailing "/" except for "/" itself
    QByteArray mountOptions;
    QByteArray fileSystem;
    QByteArray source;
    QByteArray superOptions;

    bool hasOption(const char* name) const; // in either option list, "name" or "name=..."
};

// What the drive-type rules look at beyond the mount record.
struct BlockDeviceFacts
{
    bool isBlockDevice = false; // the file system lives on a block device
    bool removable = false;     // the backing disk's sysfs "removable" flag
    QByteArray deviceName;      // the kernel's name of the device: sda1, sr0, zram0, loop3
    unsigned major = 0;
};

// The volumes of a Linux system: mounted file systems from /proc/self/mountinfo, space
// from statvfs, labels and UUIDs from udev's /dev/disk links or libblkid, the device's
// kind from sysfs. Queries that touch the file system run through the event host with
// a time limit, so a hung network mount or a dead FUSE daemon answers "failed" after
// the limit instead of freezing the window.
class LinuxVolumes : public VolumePlatform
{
public:
    explicit LinuxVolumes(EngineHost& host,
                          std::chrono::milliseconds limit = std::chrono::seconds(2));
    ~LinuxVolumes() override;

    bool hasExport(const char* module, const char* function) override;
    std::optional<SpaceFigures> querySpaceEx(const QByteArray& rootPath) override;
    std::optional<ClusterFigures> queryClusters(const QByteArray& rootPath) override;
    std::optional<VolumeFacts> queryVolume(const QByteArray& rootPath) override;
    int driveType(const QByteArray& rootPath) override;
    bool setLabel(const QByteArray& rootPath, const QByteArray& label) override;
    std::vector<MountEntry> mounts() override;
    std::optional<QByteArray> mountPointOf(const QByteArray& path) override;

    // The pieces, for tests and for the command line.
    static std::vector<MountRecord> parseMountInfo(const QByteArray& text);
    static std::vector<MountRecord> readMountTable();
    // Decodes the octal escapes of mountinfo fields (\040 a blank, \134 a backslash).
    static QByteArray decodeOctalEscapes(const QByteArray& field);
    // Decodes udev's \xHH escapes of /dev/disk link names.
    static QByteArray decodeHexEscapes(const QByteArray& name);
    static bool isPseudoFileSystem(const QByteArray& type);
    // The 32-bit serial number a volume's UUID stands for (0 for none).
    static std::uint32_t serialFromUuid(const QByteArray& uuid, const QByteArray& type);
    static std::uint32_t flagsFor(const MountRecord& mount, bool statReadOnly);
    static int driveTypeFor(const MountRecord& mount, const BlockDeviceFacts& device);
    // The record whose mount point is the root path (a stacked mount: the top one).
    static const MountRecord* findRoot(const std::vector<MountRecord>& table,
                                       const QByteArray& rootPath);
    // A root path without its trailing "/" (but "/" stays "/").
    static QByteArray stripRoot(const QByteArray& rootPath);

    // The roots whose query is still running after the time limit.
    struct Busy;

private:
    // statvfs of a mount root within the time limit, f_frsize always set.
    std::optional<struct statvfs> spaceOf(const QByteArray& rootPath);

    EngineHost& m_host;
    std::chrono::milliseconds m_limit;
    std::shared_ptr<Busy> m_busy;
};

} // namespace ov
