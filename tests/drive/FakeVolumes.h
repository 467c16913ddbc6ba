#pragma once

#include "platform/Volumes.h"

#include <functional>
#include <map>

namespace ov::test {

// Volumes made up by a test, each known by its root path ("/vol/"); a path below a root
// exists and belongs to it. The free bytes may follow a function (a run that sees its
// own writes).
class FakeVolumes : public VolumePlatform
{
public:
    struct Volume
    {
        std::optional<SpaceFigures> space; // nothing: the volume does not answer
        std::optional<ClusterFigures> clusters;
        std::optional<VolumeFacts> facts;
        int type = kDriveFixed;
        std::function<std::uint64_t()> freeBytes; // overrides free and available
        QByteArray label;
        std::vector<QByteArray> snapshots;
    };

    Volume& add(const QByteArray& rootPath, std::uint64_t total, std::uint64_t free)
    {
        Volume& volume = volumes[rootPath];
        volume.space = SpaceFigures{free, total, free};
        volume.facts = VolumeFacts{};
        volume.facts->fileSystem = "ext4";
        return volume;
    }

    bool hasExport(const char*, const char*) override { return extended; }
    std::optional<SpaceFigures> querySpaceEx(const QByteArray& rootPath) override
    {
        auto it = volumes.find(rootPath);
        if (it == volumes.end() || !it->second.space)
            return std::nullopt;
        SpaceFigures figures = *it->second.space;
        if (it->second.freeBytes) {
            // The reserve stays what it was: free minus available.
            const std::uint64_t reserve = figures.freeBytes - figures.availableBytes;
            figures.freeBytes = it->second.freeBytes();
            figures.availableBytes = figures.freeBytes > reserve ? figures.freeBytes - reserve : 0;
        }
        return figures;
    }
    std::optional<ClusterFigures> queryClusters(const QByteArray& rootPath) override
    {
        auto it = volumes.find(rootPath);
        return it == volumes.end() ? std::nullopt : it->second.clusters;
    }
    std::optional<VolumeFacts> queryVolume(const QByteArray& rootPath) override
    {
        auto it = volumes.find(rootPath);
        return it == volumes.end() ? std::nullopt : it->second.facts;
    }
    int driveType(const QByteArray& rootPath) override
    {
        auto it = volumes.find(rootPath);
        return it == volumes.end() ? kDriveNoRootDir : it->second.type;
    }
    bool setLabel(const QByteArray&, const QByteArray&) override { return false; }
    std::vector<MountEntry> mounts() override
    {
        std::vector<MountEntry> entries;
        for (const auto& [root, volume] : volumes)
            entries.push_back({pointOf(root), volume.label});
        return entries;
    }
    std::optional<QByteArray> mountPointOf(const QByteArray& path) override
    {
        for (const QByteArray& gone : missing) {
            if (path.startsWith(gone))
                return std::nullopt;
        }
        QByteArray best;
        for (const auto& entry : volumes) {
            const QByteArray point = pointOf(entry.first);
            if ((path == point || path.startsWith(entry.first)) && point.size() > best.size())
                best = point;
        }
        return best.isEmpty() ? std::nullopt : std::optional<QByteArray>(best);
    }

    std::vector<QByteArray> snapshots(const QByteArray& rootPath) override
    {
        auto it = volumes.find(rootPath);
        return it == volumes.end() ? std::vector<QByteArray>() : it->second.snapshots;
    }
    std::uint64_t reserveOutOfReach(const QByteArray& rootPath) override
    {
        if (administrator)
            return 0;
        const auto space = querySpaceEx(rootPath);
        return !space ? 0 : space->freeBytes - space->availableBytes;
    }

    std::map<QByteArray, Volume> volumes;
    std::vector<QByteArray> missing; // paths (and what is below them) that do not exist
    bool extended = true;
    bool administrator = true; // may fill the reserve: no notice of it

private:
    static QByteArray pointOf(const QByteArray& root)
    {
        return root.size() > 1 ? root.chopped(1) : root;
    }
};

} // namespace ov::test
