#pragma once

#include "settings/WipeLevel.h"
#include "wipe/WipeTarget.h"

#include <QByteArray>
#include <QString>

namespace ov {

// The three ways the File Cleaner destroys one file. Each checks everything it can
// before the first write, overwrites the file in place with fixed byte patterns through
// the folder it holds, flushing every pass to the disk, and then deletes it, flushing the
// folder. A failure throws Error at the failing step, after flushing what was written.
WipeOutcome WipeFileLeast(const QByteArray& path, bool deleteAfter, const WipeEnv& env);
WipeOutcome WipeFileMedium(const QByteArray& path, const WipeEnv& env);
WipeOutcome WipeFileHigh(const QByteArray& path, int passes, bool deleteAfter, const WipeEnv& env);
// The least method's passes one by one (0 to kLeastPasses - 1), for a batch that runs
// each pass over many files before the next.
inline constexpr int kLeastPasses = 3;
void leastPass(WipeTarget& target, int pass);
// The medium method's overwriting and deletion of a held file (it never renames).
WipeOutcome OverwriteMedium(WipeTarget& target);

// What a level checks before the first byte and does at the end. A read-only file is
// refused at the least and high levels and made writable by its owner at the medium
// level, unless the environment makes it writable (giveOwnerWrite) or refuses it
// (refuseReadOnly) at every level.
WipeTarget::Rules wipeRules(WipeLevel level, bool deleteAfter, const WipeEnv& env);
// The method of a level (least, medium, or high with 11 passes) on a prepared file, which
// its rules (wipeRules) say to delete.
WipeOutcome wipePrepared(WipeTarget& target, WipeLevel level);
// The method of a level on a path.
WipeOutcome wipeAtLevel(const QByteArray& path, WipeLevel level, const WipeEnv& env);
// The same for the file `name` of a folder already held, as a walk through a tree holds
// each folder: nothing is looked up by path again.
WipeOutcome wipeInFolder(const fs::Folder& folder, const QByteArray& name, WipeLevel level,
                         const WipeEnv& env);

// The operation log's message for a file about to be wiped at the stored level text.
QByteArray deletionLogMessage(const QByteArray& path, const QString& levelText);

// The length can be read twice, with the same result.
bool FileAccessible(const QByteArray& path);

// How many times a level writes over each file: 3, 5 or 33 passes.
int passCount(WipeLevel level);
// The bytes a level writes to destroy a file of `length` bytes (for progress by bytes).
long long plannedWrites(WipeLevel level, long long length);

// Half-to-even rounding of length / divisor, as the high method counts its chunks.
long long roundedChunkCount(long long length, long long divisor);

} // namespace ov
