#include "diskclean/NameCleaner.h"

#include "drive/DriveInfo.h"
#include "platform/Error.h"

#include <algorithm>
#include <cerrno>
#include <numeric>

namespace ov {

namespace {

// Rounds that move a journal or log by nothing: it is not written the way it was
// understood, and going on would never end.
constexpr int kIdleRoundsAllowed = 3;

Error stuck(const QByteArray& path, const char* what)
{
    return Error(EIO,
                 QStringLiteral("The ") + QLatin1String(what) +
                     QStringLiteral(" did not move; the names of deleted files may remain in it"),
                 path);
}

// Too few entries to move a journal or log in reasonable rounds: no room on the volume.
void requireEntries(int count, const QByteArray& path)
{
    if (count < 16)
        throw Error(ENOSPC,
                    QStringLiteral("No room for the entries that write over the names of deleted "
                                   "files; they may remain"),
                    path);
}

void requireEntries(const names::Scratch& scratch)
{
    requireEntries(scratch.count(), scratch.path());
}

// Bytes no compression shrinks: the metadata has to be filled by what it holds.
QByteArray throwAwayBytes(int size, std::uint64_t seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = char(state);
    }
    return bytes;
}

} // namespace

void NameCleaner::progress(double fraction)
{
    const int percent = std::clamp(int(fraction * 100), 0, 100);
    if (percent != m_lastPercent && onProgress)
        onProgress(percent);
    m_lastPercent = percent;
}

bool NameCleaner::run(const QByteArray& folderPath, Stage stage)
{
    const fs::Folder folder = fs::Folder::open(folderPath, m_runner);
    const FileSystemKind kind = m_runner.blocking([&] { return names::fileSystemOf(folder); });
    const QByteArray device = m_runner.blocking([&] { return names::deviceNameOf(folder); });
    const bool ext = kind.name == "ext4";
    const bool journal = ext && m_runner.blocking([&] { return names::journalStats(device); });
    const bool xfs =
        kind.name == "xfs" && m_runner.blocking([&] { return names::xfsLogHead(device); });
    const bool btrfs = kind.name == "btrfs";
    if (stage == Stage::VolumeFull) {
        if (!btrfs)
            return true;
    } else if (btrfs || kind.writes == WriteKind::MemoryOnly) {
        return true;
    } else if (!journal && !xfs) {
        const QString where = displayPath(folderPath);
        m_lines << (ext ? QStringLiteral("Names of deleted files may remain in the folder blocks "
                                         "this volume freed (")
                        : QStringLiteral("Names of deleted files may remain in what ")) +
                       (ext ? QStringLiteral("no journal to go by") + QStringLiteral(") on ")
                            : QString::fromLocal8Bit(kind.name.isEmpty() ? "this file system"
                                                                         : kind.name) +
                                  QStringLiteral(" keeps of them on ")) +
                       where + QStringLiteral(": this program does not know how to reach them.");
        return true;
    }
    if (m_stop.now())
        return false;

    m_lastPercent = -1;
    progress(0);
    names::Scratch scratch = names::Scratch::open(folder, kScratchName, m_runner);
    bool finished = false;
    try {
        if (btrfs)
            finished = fillMetadata(scratch, folder);
        else if (journal)
            finished = wrapJournal(scratch, device,
                                   m_runner.blocking([&] { return names::blockBytesOf(folder); }));
        else
            finished = wrapLog(scratch, device, folder);
    } catch (const Error&) {
        m_runner.runBlocking([&] {
            try {
                scratch.removeAll();
            } catch (const Error&) {
                // The first failure is the one told.
            }
        });
        throw;
    }
    // Gone again, whatever happened: the names written over were this step's own.
    m_runner.runBlocking([&] { scratch.removeAll(); });
    folder.syncVolume();
    if (finished)
        progress(1);
    return finished;
}

std::optional<std::vector<int>> NameCleaner::makeEntries(names::Scratch& scratch, int count)
{
    bool created = false;
    m_runner.runBlocking([&] {
        created = scratch.createEmpty(count, [&] { return m_stop.now(); });
        if (created) {
            requireEntries(scratch);
            scratch.syncVolume();
        }
    });
    if (!created)
        return std::nullopt;
    std::vector<int> entries(size_t(scratch.count()));
    std::iota(entries.begin(), entries.end(), 0);
    return entries;
}

bool NameCleaner::rewriteAttributes(names::Scratch& scratch, std::vector<int>& entries,
                                    std::int64_t blockBytes, std::int64_t round)
{
    // A new value of an attribute kept in a block of its own puts that whole block in the
    // journal or log, where a new time stamp puts a sixteenth of one. A value of 3/8 of a
    // block is kept that way, in the block beside the one it replaces.
    const int valueBytes = int(std::clamp<std::int64_t>(blockBytes * 3 / 8, 256, 24576));
    int set = 0;
    m_runner.runBlocking([&] {
        set = scratch.setAttribute(entries, throwAwayBytes(valueBytes, std::uint64_t(round)),
                                   [&] { return m_stop.now(); });
        if (set >= 0)
            scratch.syncVolume();
    });
    if (set < 0)
        return false;
    // The volume had no room for the attributes of the rest: fewer entries from now on.
    if (set < int(entries.size())) {
        entries.resize(size_t(set));
        requireEntries(set, scratch.path());
    }
    m_runner.yield();
    return true;
}

bool NameCleaner::wrapJournal(names::Scratch& scratch, const QByteArray& device,
                              std::int64_t blockBytes)
{
    const auto stats = [&] {
        const std::optional<names::JournalStats> now =
            m_runner.blocking([&] { return names::journalStats(device); });
        if (!now)
            throw stuck(scratch.path(), "journal");
        return *now;
    };
    const names::JournalStats start = stats();
    // The journal's length: a transaction may take up to a third of it.
    const std::int64_t journalBlocks = 3 * start.transactionLimit + 3;
    // A round writes a quarter of the journal: few rounds, few files.
    std::optional<std::vector<int>> entries =
        makeEntries(scratch, int(std::clamp<std::int64_t>(journalBlocks / 4, 256, 8192)));
    if (!entries)
        return false;
    // What is written since the start is at least what the counters say now, each
    // average cut short, less the most they could have said at the start.
    std::int64_t before = -1;
    int idle = 0;
    for (std::int64_t round = 1;; ++round) {
        const names::JournalStats now = stats();
        const std::int64_t logged = now.transactions * now.loggedPerTransaction -
                                    start.transactions * (start.loggedPerTransaction + 1);
        progress(double(logged) / double(journalBlocks));
        if (logged >= journalBlocks) {
            m_lines << QStringLiteral("Names of deleted files: written over in the journal (") +
                           CDriveInfo::FormatSize(journalBlocks * blockBytes, false) +
                           QStringLiteral(").");
            return true;
        }
        idle = logged <= before ? idle + 1 : 0;
        if (idle > kIdleRoundsAllowed)
            throw stuck(scratch.path(), "journal");
        before = logged;
        if (!rewriteAttributes(scratch, *entries, blockBytes, round))
            return false;
    }
}

bool NameCleaner::wrapLog(names::Scratch& scratch, const QByteArray& device,
                          const fs::Folder& folder)
{
    const auto head = [&] {
        const std::optional<names::LogPosition> now =
            m_runner.blocking([&] { return names::xfsLogHead(device); });
        if (!now)
            throw stuck(scratch.path(), "log");
        return *now;
    };
    const std::optional<names::XfsGeometry> geometry =
        m_runner.blocking([&] { return names::xfsGeometry(folder); });
    const std::int64_t logBytes =
        geometry ? geometry->logBlocks * geometry->blockBytes : std::int64_t(64) << 20;
    const std::int64_t logSectors = std::max<std::int64_t>(logBytes / 512, 1);
    const std::int64_t blockBytes = geometry ? geometry->blockBytes : 4096;
    // A round writes a quarter of the log.
    std::optional<std::vector<int>> entries =
        makeEntries(scratch, int(std::clamp<std::int64_t>(logBytes / 4 / blockBytes, 256, 16384)));
    if (!entries)
        return false;
    // Once the head is past where it began, one cycle on, every sector of the log was
    // written since; a few sectors more for the record in hand.
    const names::LogPosition start = head();
    const names::LogPosition goal{start.cycle + 1, start.sector + 64};
    std::int64_t before = -1;
    int idle = 0;
    for (std::int64_t round = 1;; ++round) {
        const names::LogPosition now = head();
        if (now >= goal) {
            m_lines << QStringLiteral("Names of deleted files: written over in the log (") +
                           CDriveInfo::FormatSize(logBytes, false) + QStringLiteral(").");
            return true;
        }
        const std::int64_t moved =
            (now.cycle - start.cycle) * logSectors + now.sector - start.sector;
        progress(double(moved) / double(logSectors));
        idle = moved <= before ? idle + 1 : 0;
        if (idle > kIdleRoundsAllowed)
            throw stuck(scratch.path(), "log");
        before = moved;
        if (!rewriteAttributes(scratch, *entries, blockBytes, round))
            return false;
    }
}

bool NameCleaner::fillMetadata(names::Scratch& scratch, const fs::Folder& folder)
{
    const auto stop = [&] { return m_stop.now(); };
    const auto space = [&] {
        return m_runner.blocking([&] { return names::btrfsMetadata(folder); });
    };
    const std::optional<names::MetadataSpace> start = space();
    if (!start) {
        m_lines << QStringLiteral("Names of deleted files may remain in the metadata of ") +
                       displayPath(folder.path()) +
                       QStringLiteral(": its space could not be read.");
        return true;
    }
    // Extended attributes live inside the metadata blocks and need no data space, so they
    // fill the free room there also on a volume full of filler. Three quarters of a block
    // each, the most that leaves room for the item's own header (a larger one is refused):
    // the fewer attributes, the fewer reservations the file system weighs as it fills up.
    const int attributeBytes = int(std::clamp<std::int64_t>(start->nodeBytes * 3 / 4, 1024, 49152));
    constexpr int kBatch = 128;
    const std::int64_t freeAtStart = std::max<std::int64_t>(start->total - start->used, 0);
    const std::int64_t most = 2 * freeAtStart / attributeBytes + 4 * kBatch;
    std::int64_t freeNow = freeAtStart;
    for (std::int64_t written = 0;;) {
        bool full = false;
        bool complete = true;
        // Each round fills about half of what is free and is then flushed (the metadata
        // counts its use at the commit): few flushes while much is free, small rounds near
        // the end, where the volume's reserve ends it.
        const int round =
            int(std::clamp<std::int64_t>(freeNow / attributeBytes / 2, kBatch, 16384));
        m_runner.runBlocking([&] {
            for (int i = 0; i < round && !full; ++i) {
                if (stop()) {
                    complete = false;
                    return;
                }
                full = !scratch.addAttribute(
                    throwAwayBytes(attributeBytes, std::uint64_t(written + i)));
            }
            scratch.syncVolume();
        });
        if (!complete)
            return false;
        written += round;
        const std::optional<names::MetadataSpace> now = space();
        if (full || !now || now->total > start->total || written > most) {
            const std::int64_t reached = now ? std::min(now->used, start->total) - start->used : 0;
            m_lines << QStringLiteral("Names of deleted files: written over in the free part of "
                                      "the metadata chunks (") +
                           CDriveInfo::FormatSize(std::max<std::int64_t>(reached, 0), false) +
                           QStringLiteral(" of ") + CDriveInfo::FormatSize(start->total, false) +
                           QStringLiteral(").");
            return true;
        }
        freeNow = std::max<std::int64_t>(now->total - now->used, 0);
        progress(double(now->used - start->used) / double(std::max<std::int64_t>(freeAtStart, 1)));
        m_runner.yield();
    }
}

QStringList NameCleaner::cleanVolume(const QByteArray& folderPath, BlockingRunner& runner,
                                     StopChannel& stop, bool* stopped)
{
    NameCleaner cleaner(runner, stop);
    const bool done =
        cleaner.run(folderPath, Stage::VolumeFull) && cleaner.run(folderPath, Stage::VolumeFreed);
    if (stopped)
        *stopped = !done;
    return cleaner.lines();
}

} // namespace ov
