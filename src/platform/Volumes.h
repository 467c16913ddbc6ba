#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace ov {

// The byte counts of a volume as the 64-bit query gives them.
struct SpaceFigures
{
    std::uint64_t availableBytes = 0; // free bytes this user may fill
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0; // all free bytes, the root-reserved ones included
    std::uint64_t unitBytes = 0; // the unit space is allocated in; 0 when unknown
};

// The older cluster-count query: every figure is a 32-bit unsigned count.
struct ClusterFigures
{
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t bytesPerSector = 0;
    std::uint32_t freeClusters = 0;
    std::uint32_t totalClusters = 0;
};

// The facts of a volume beyond its space. Texts are as the system hands them over
// (they may hold a NUL and what follows it).
struct VolumeFacts
{
    QByteArray label;
    QByteArray fileSystem;
    std::uint32_t serialNumber = 0;
    std::uint32_t maxComponentLength = 0;
    std::uint32_t flags = 0;
};

// Flag bits of VolumeFacts::flags.
inline constexpr std::uint32_t kCaseSensitiveSearch = 0x1;
inline constexpr std::uint32_t kCasePreservedNames = 0x2;
inline constexpr std::uint32_t kVolumeIsCompressed = 0x8000;
inline constexpr std::uint32_t kReadOnlyVolume = 0x80000;

// Drive-type codes.
enum DriveTypeCode : int
{
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
    kDriveRamDisk = 6,
};

// One mounted file system as the drive list shows it.
struct MountEntry
{
    QByteArray mountPoint; // decoded, without a trailing "/" except for "/" itself
    QByteArray label;      // empty when the volume has none or it cannot be read

    // The mount point, then " [" label "]" when there is a label.
    QByteArray entryText() const
    {
        return label.isEmpty() ? mountPoint : mountPoint + " [" + label + "]";
    }
};

// Space a file system keeps out of every file's reach, which no filler can overwrite.
struct KeptBack
{
    enum class Kind
    {
        BlockReserve,     // xfs's reserve of blocks for itself
        ReservedClusters, // ext4's clusters kept for its own bookkeeping
        MetadataChunks,   // btrfs's chunks for metadata (and files small enough)
    };
    Kind kind = Kind::BlockReserve;
    std::uint64_t bytes = 0;
    bool estimated = false; // the default size; the exact one only the administrator reads
};

// What the Disk Cleaner asks of the system about volumes. A root path is a mount point
// followed by "/". Every query answers "failed" (nothing) rather than hang when the
// volume does not answer in time.
class VolumePlatform
{
public:
    virtual ~VolumePlatform() = default;

    // Whether the shared library `module` exports `function` (the library is loaded
    // for the question if it was not loaded yet, and unloaded again).
    virtual bool hasExport(const char* module, const char* function) = 0;
    virtual std::optional<SpaceFigures> querySpaceEx(const QByteArray& rootPath) = 0;
    virtual std::optional<ClusterFigures> queryClusters(const QByteArray& rootPath) = 0;
    virtual std::optional<VolumeFacts> queryVolume(const QByteArray& rootPath) = 0;
    virtual int driveType(const QByteArray& rootPath) = 0;
    // Setting a label; false when the system refuses (it always does here).
    virtual bool setLabel(const QByteArray& rootPath, const QByteArray& label) = 0;
    // The mounted file systems, one entry per mount point, pseudo file systems left out.
    virtual std::vector<MountEntry> mounts() = 0;
    // The mount point of the file system that holds an existing path; nothing when the
    // path does not exist.
    virtual std::optional<QByteArray> mountPointOf(const QByteArray& path) = 0;
    // The snapshots of the volume's file system (btrfs), which keep the data of files
    // deleted since they were taken; empty for none, or where there are no snapshots.
    virtual std::vector<QByteArray> snapshots(const QByteArray& rootPath) = 0;
    // The space the volume keeps back from users other than the administrator, which this
    // process may not fill: total free minus available where the file system keeps such a
    // reserve (ext2, ext3, ext4); 0 elsewhere, where this process may fill it, or when the
    // volume does not answer.
    virtual std::uint64_t reserveOutOfReach(const QByteArray& rootPath) = 0;
    // What the volume's file system keeps beyond any file's reach; none unless known.
    virtual std::vector<KeptBack> keptBack(const QByteArray&) { return {}; }
    // Whether a run writes over what the file systems keep of deleted names (on real
    // volumes; made-up ones keep none).
    virtual bool keepsNames() const { return false; }
    // Whether a run's lock covers the whole volume (real volumes). Made-up volumes share
    // a real one with each other, so theirs covers the run's own folder.
    virtual bool locksWholeVolume() const { return false; }
};

} // namespace ov
