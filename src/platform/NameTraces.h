#pragma once

#include "platform/Error.h"
#include "platform/Files.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// What a volume keeps of names beyond its folders (a journal, a log, metadata blocks),
// as far as any user may see it, and the throw-away entries that write over it.
namespace ov::names {

// The block device the folder's file system lives on as the kernel names it in /proc and
// /sys ("sda2", "loop0", "dm-1"); empty when there is none.
QByteArray deviceNameOf(const fs::Folder& folder);
// The kind of file system the folder is on.
FileSystemKind fileSystemOf(const fs::Folder& folder);
// The block size of the folder's file system.
std::int64_t blockBytesOf(const fs::Folder& folder);

// An ext3/ext4 journal (jbd2) as /proc/fs/jbd2 shows it to every user.
struct JournalStats
{
    std::int64_t transactions = 0;
    std::int64_t loggedPerTransaction = 0; // the average, cut to a whole number
    std::int64_t transactionLimit = 0;     // "each up to N blocks": a third of the journal
};
std::optional<JournalStats> journalStats(const QByteArray& device);

// Where xfs writes its log next: the cycle (how often the log went round) and the sector.
struct LogPosition
{
    std::int64_t cycle = 0;
    std::int64_t sector = 0; // in 512-byte units
    friend auto operator<=>(const LogPosition&, const LogPosition&) = default;
};
std::optional<LogPosition> xfsLogHead(const QByteArray& device);

// The sizes of an xfs volume (any user may ask).
struct XfsGeometry
{
    std::int64_t blockBytes = 0;
    std::int64_t dataBlocks = 0;
    std::int64_t logBlocks = 0;
};
std::optional<XfsGeometry> xfsGeometry(const fs::Folder& folder);
// The blocks xfs keeps back for itself, in bytes; only the administrator may ask.
std::optional<std::int64_t> xfsReserveBytes(const fs::Folder& folder);
// ext4's reserved clusters (kept for its own bookkeeping), in clusters.
std::optional<std::int64_t> ext4ReservedClusters(const QByteArray& device);

// The space of btrfs's metadata chunks (the allocated ones), in bytes.
struct MetadataSpace
{
    std::int64_t total = 0;
    std::int64_t used = 0;
    std::int64_t nodeBytes = 16384; // the size of one block of the metadata's trees
};
std::optional<MetadataSpace> btrfsMetadata(const fs::Folder& folder);

// A hidden folder of this user's with throw-away entries numbered from 0: "000000", ...
// Its entries and the folder itself are removed by removeAll(); a folder of that name a
// killed run left is taken up and emptied. Never reached through a link.
class Scratch
{
public:
    static Scratch open(const fs::Folder& parent, const QByteArray& name, BlockingRunner& runner);
    Scratch(Scratch&&) noexcept = default;
    ~Scratch();

    const QByteArray& path() const { return m_folder->path(); }
    int count() const { return m_count; }
    // Creates empty files up to `total` entries, fewer when the volume has no room for
    // more (count() tells); false when `stop` answered true first.
    bool createEmpty(int total, const std::function<bool()>& stop);
    // The attribute "user.ov" set to `value` on each entry named, in order, up to the
    // first the volume has no room for: how many were set, or -1 when `stop` answered true.
    int setAttribute(const std::vector<int>& numbers, const QByteArray& value,
                     const std::function<bool()>& stop);
    // One more extended attribute holding `value` on an entry of its own (made at the
    // first call); false when the volume has no room for it. Needs no data space.
    bool addAttribute(const QByteArray& value);
    // syncfs() of the volume.
    void syncVolume();
    // Removes every entry, then the folder; the first failure after trying them all.
    // Blocks: to be called off the interface thread, as the others.
    void removeAll();

private:
    Scratch(fs::Folder parent, fs::Folder folder, QByteArray name)
        : m_parent(std::move(parent)), m_folder(std::move(folder)), m_name(std::move(name))
    {}
    static QByteArray entryName(int number);
    std::optional<Error> removeEntries();
    std::optional<fs::Folder> m_parent;
    std::optional<fs::Folder> m_folder;
    QByteArray m_name;
    int m_count = 0;
    int m_attributes = 0;
    fs::Descriptor m_carrier; // the entry the attributes go on
};

} // namespace ov::names
