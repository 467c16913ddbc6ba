#pragma once

#include "platform/BlockingRunner.h"
#include "platform/TimedQueries.h"
#include "platform/Volumes.h"

#include <chrono>

namespace ov {

// The volumes of a Linux system: the mounted file systems of the mount table, space
// from statvfs, labels, serial numbers and the kind of device from the block devices,
// snapshots from btrfs. Every query that touches a file system or a device is answered
// within a time limit (TimedQueries), so a hung network mount or a dead FUSE daemon
// answers "failed" after the limit instead of freezing the window.
class LinuxVolumes : public VolumePlatform
{
public:
    // Without `identities` the volume facts carry no label and no serial number, and no
    // block device is read for them (which on a cold cache takes a while).
    explicit LinuxVolumes(BlockingRunner& runner,
                          std::chrono::milliseconds limit = std::chrono::seconds(2),
                          bool identities = true);

    bool hasExport(const char* module, const char* function) override;
    std::optional<SpaceFigures> querySpaceEx(const QByteArray& rootPath) override;
    std::optional<ClusterFigures> queryClusters(const QByteArray& rootPath) override;
    std::optional<VolumeFacts> queryVolume(const QByteArray& rootPath) override;
    int driveType(const QByteArray& rootPath) override;
    bool setLabel(const QByteArray& rootPath, const QByteArray& label) override;
    std::vector<MountEntry> mounts() override;
    std::optional<QByteArray> mountPointOf(const QByteArray& path) override;
    std::vector<QByteArray> snapshots(const QByteArray& rootPath) override;
    std::uint64_t reserveOutOfReach(const QByteArray& rootPath) override;
    std::vector<KeptBack> keptBack(const QByteArray& rootPath) override;
    bool keepsNames() const override { return true; }
    bool locksWholeVolume() const override { return true; }

private:
    struct Space
    {
        std::uint64_t unit = 0;
        std::uint64_t blocks = 0;
        std::uint64_t free = 0;
        std::uint64_t available = 0;
    };
    std::optional<Space> spaceOf(const QByteArray& rootPath);

    TimedQueries m_queries;
    bool m_identities;
};

} // namespace ov
