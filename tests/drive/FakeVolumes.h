#pragma once

#include "platform/Volumes.h"

#include <functional>
#include <map>

namespace ov::test {

// Volumes made up by a test. Each is known by its root path ("/vol/"); a path below a
// root "exists" and belongs to it. The free bytes may follow a function (for a run that
// should see its own writes).
class FakeVolumes : public VolumePlatform
{
public:
    struct Volume
    {
        std::optional<SpaceFigures> space;      // nothing: the volume does not answer
        std::optional<ClusterFigures> clusters; // the old query's answer
        std::optional<VolumeFacts> facts;
        int type = kDriveFixed;
        std::function<std::uint64_t()> freeBytes; // overrides space->freeBytes
        QByteArray label;
    };

    Volume& add(const QByteArray& rootPath, std::uint64_t total, std::uint64_t free)
    {
        Volume& volume = volumes[rootPath];
        volume.space = SpaceFigures{free, total, free};
        volume.facts = VolumeFacts{};
        volume.facts->fileSystem = "ext4";
        return volume;
    }

    bool hasExport(const char* module, const char* function) override
    {
        askedModule = module;
        askedFunction = function;
        return extended;
    }
    std::optional<SpaceFigures> querySpaceEx(const QByteArray& rootPath) override
    {
        ++spaceQueries;
        auto it = volumes.find(rootPath);
        if (it == volumes.end() || !it->second.space)
            return std::nullopt;
        SpaceFigures figures = *it->second.space;
        if (it->second.freeBytes) {
            figures.freeBytes = it->second.freeBytes();
            figures.availableBytes = figures.freeBytes;
        }
        return figures;
    }
    std::optional<ClusterFigures> queryClusters(const QByteArray& rootPath) override
    {
        ++spaceQueries;
        auto it = volumes.find(rootPath);
        if (it == volumes.end())
            return std::nullopt;
        return it->second.clusters;
    }
    std::optional<VolumeFacts> queryVolume(const QByteArray& rootPath) override
    {
        ++volumeQueries;
        auto it = volumes.find(rootPath);
        if (it == volumes.end())
            return std::nullopt;
        return it->second.facts;
    }
    int driveType(const QByteArray& rootPath) override
    {
        auto it = volumes.find(rootPath);
        return it == volumes.end() ? kDriveNoRootDir : it->second.type;
    }
    bool setLabel(const QByteArray& rootPath, const QByteArray& label) override
    {
        if (!labelsWritable)
            return false;
        auto it = volumes.find(rootPath);
        if (it == volumes.end() || !it->second.facts)
            return false;
        it->second.facts->label = label;
        return true;
    }
    std::vector<MountEntry> mounts() override
    {
        ++mountReads;
        std::vector<MountEntry> entries;
        for (const auto& [root, volume] : volumes) {
            MountEntry entry;
            entry.mountPoint = root.size() > 1 ? root.chopped(1) : root;
            entry.fileSystem = volume.facts ? volume.facts->fileSystem : QByteArray("ext4");
            entry.label = volume.label;
            entries.push_back(entry);
        }
        return entries;
    }
    std::optional<QByteArray> mountPointOf(const QByteArray& path) override
    {
        for (const QByteArray& gone : missing) {
            if (path.startsWith(gone))
                return std::nullopt;
        }
        QByteArray best;
        for (const auto& [root, volume] : volumes) {
            const QByteArray point = root.size() > 1 ? root.chopped(1) : root;
            if ((path == point || path.startsWith(root)) && point.size() > best.size())
                best = point;
        }
        if (best.isEmpty())
            return std::nullopt;
        return best;
    }

    std::map<QByteArray, Volume> volumes;
    std::vector<QByteArray> missing; // paths (and what is below them) that do not exist
    bool extended = true;
    bool labelsWritable = false;
    QByteArray askedModule;
    QByteArray askedFunction;
    int spaceQueries = 0;
    int volumeQueries = 0;
    int mountReads = 0;
};

} // namespace ov::test
