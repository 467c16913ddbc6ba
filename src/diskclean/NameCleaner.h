#pragma once

#include "platform/BlockingRunner.h"
#include "platform/NameTraces.h"
#include "platform/StopChannel.h"

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace ov {

// Writes over what a volume keeps of the names of deleted files outside its folders,
// with throw-away entries of its own in a hidden folder (removed again, whatever
// happens) and ordinary file operations only:
// - ext3/ext4: the journal keeps copies of folder blocks; new time stamps on files whose
//   inodes lie in different blocks, a flush each round, until the journal's own
//   counters prove that it went once round since the step began.
// - xfs: the same for its log, until its head went once round.
// - btrfs: released metadata blocks; extended attributes (kept inside the metadata, no
//   data space needed) until the metadata chunks have no free room left or a new one had
//   to be made. On a volume full of filler no new chunk can be made, so the free room of
//   the existing ones is written whole.
// Elsewhere it says that names may remain, and where.
class NameCleaner
{
public:
    // btrfs's part needs the volume full (the filler still on it); the journal and the
    // log need room for the entries, after the filler is gone.
    enum class Stage
    {
        VolumeFull,
        VolumeFreed,
    };
    static constexpr char kScratchName[] = ".ovnames.tmp";

    NameCleaner(BlockingRunner& runner, StopChannel& stop) : m_runner(runner), m_stop(stop) {}

    // Now and then while it works: how far it is, 0 to 100.
    std::function<void(int percent)> onProgress;

    // The stage's part on the volume of `folderPath`, a folder this user may write in.
    // False when a stop was asked for (its entries are removed all the same). A failure
    // is thrown after its entries are removed.
    bool run(const QByteArray& folderPath, Stage stage);
    // What was done, and what may remain, a line each, since construction.
    const QStringList& lines() const { return m_lines; }

    // Both stages in turn on a volume whose files were just deleted (the command line's
    // wipe, once per volume): the lines to print. `stopped` tells of a stop.
    static QStringList cleanVolume(const QByteArray& folderPath, BlockingRunner& runner,
                                   StopChannel& stop, bool* stopped = nullptr);

private:
    bool wrapJournal(names::Scratch& scratch, const QByteArray& device, std::int64_t blockBytes);
    bool wrapLog(names::Scratch& scratch, const QByteArray& device, const fs::Folder& folder);
    bool fillMetadata(names::Scratch& scratch, const fs::Folder& folder);
    // The scratch's `count` entries, flushed; nothing when stopped.
    std::optional<std::vector<int>> makeEntries(names::Scratch& scratch, int count);
    // One round: a new value of the entries' attribute, flushed; false when stopped.
    bool rewriteAttributes(names::Scratch& scratch, std::vector<int>& entries,
                           std::int64_t blockBytes, std::int64_t round);
    void progress(double fraction);

    BlockingRunner& m_runner;
    StopChannel& m_stop;
    QStringList m_lines;
    int m_lastPercent = -1;
};

} // namespace ov
