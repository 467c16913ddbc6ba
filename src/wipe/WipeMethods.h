#pragma once

#include "platform/EngineHost.h"
#include "settings/Settings.h"

#include <QByteArray>

namespace ov {

// The three ways the File Cleaner destroys one file. Each overwrites the file in place
// with fixed byte patterns, flushing every pass to the disk, and then deletes it. A
// failure throws Error at the failing step. Only regular files are touched.
// `settings` is read at the moment of deletion (ScrambleNames).
void WipeFileLeast(const QByteArray& path, bool deleteAfter, const Settings& settings,
                   EngineHost& host);
void WipeFileMedium(const QByteArray& path, EngineHost& host);
void OverwriteMedium(const QByteArray& path, EngineHost& host);
void WipeFileHigh(const QByteArray& path, int passes, bool deleteAfter, const Settings& settings,
                  EngineHost& host);

// The method of a stored level text: "1" least, "2" or the empty text medium, "3" high
// with 11 passes. Any other text touches nothing and gives false.
bool WipeAtLevel(const QByteArray& path, const QString& level, const Settings& settings,
                 EngineHost& host);

// The operation log's message for a file about to be wiped at `level`.
QByteArray DeletionLogMessage(const QByteArray& path, const QString& level);

// The length can be read twice, with the same result.
bool FileAccessible(const QByteArray& path);

// Half-to-even rounding of length / divisor, as the high method counts its chunks.
long long roundedChunkCount(long long length, long long divisor);

// The size of the pieces every pass is written in.
inline constexpr size_t kWriteChunk = 1u << 20;

} // namespace ov
