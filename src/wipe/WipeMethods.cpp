#include "wipe/WipeMethods.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "wipe/PathHelpers.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace ov {

namespace {

using fs::File;

constexpr off_t kBlockSize = 4096;
constexpr off_t kRunOfU = 10000;

// Writes `byte` over [from, to) in large pieces, yielding between them. The bytes the
// pass leaves are what counts; how many writes it takes is only a cost.
void fillRange(File& file, char byte, off_t from, off_t to, EngineHost& host)
{
    if (to <= from)
        return;
    const size_t piece = size_t(std::min<off_t>(to - from, off_t(kWriteChunk)));
    const std::vector<char> buffer(piece, byte);
    for (off_t at = from; at < to;) {
        const size_t length = size_t(std::min<off_t>(to - at, off_t(piece)));
        file.writeAt(buffer.data(), length, at);
        at += off_t(length);
        host.yield();
    }
}

// The read-only attribute is the owner's write permission; like the old platform, the
// least and high methods refuse such a file even where the system would let root write.
File openForWipe(const QByteArray& path, File::Access access, EngineHost& host)
{
    return File::openRegular(path, access, host, true);
}

// Freeing the blocks of a large file can take a while: off the interface thread.
void removeWiped(const QByteArray& path, EngineHost& host)
{
    host.runBlocking([&] { fs::removeFile(path); });
}

// Flushes are done by the caller's passes; here only the name goes, then the file.
void deleteWiped(const QByteArray& path, const Settings& settings, EngineHost& host)
{
    removeWiped(settings.ScrambleNames ? ScrambleName(path, host) : path, host);
}

} // namespace

long long roundedChunkCount(long long length, long long divisor)
{
    long long quotient = length / divisor;
    long long twiceRemainder = 2 * (length % divisor);
    if (twiceRemainder > divisor || (twiceRemainder == divisor && (quotient % 2) == 1))
        ++quotient;
    return quotient;
}

void WipeFileLeast(const QByteArray& path, bool deleteAfter, const Settings& settings,
                   EngineHost& host)
{
    static const char passBytes[] = {'\x00', '\xff', '\x00'};
    for (char byte : passBytes) {
        File file = openForWipe(path, File::Access::ReadWrite, host);
        // The whole file as it stands, its length unchanged.
        fillRange(file, byte, 0, file.size(), host);
        file.sync();
        file.close();
        host.yield();
    }
    if (deleteAfter)
        deleteWiped(path, settings, host);
}

void WipeFileMedium(const QByteArray& path, EngineHost& host)
{
    if (path == " " || path.isEmpty()) {
        host.yield();
        return;
    }
    fs::makeOwnerWritable(path);
    OverwriteMedium(path, host);
}

void OverwriteMedium(const QByteArray& path, EngineHost& host)
{
    // Block pass: every block written with "X", then with "0", one block past the end.
    {
        File file = File::openRegular(path, File::Access::ReadWrite, host);
        const off_t blocks = file.size() / kBlockSize + 1;
        const off_t end = blocks * kBlockSize;
        const std::vector<char> xs(size_t(std::min<off_t>(end, off_t(kWriteChunk))), 'X');
        const std::vector<char> zeros(xs.size(), '0');
        for (off_t at = 0; at < end;) {
            const size_t length = size_t(std::min<off_t>(end - at, off_t(xs.size())));
            file.writeAt(xs.data(), length, at);
            file.writeAt(zeros.data(), length, at);
            at += off_t(length);
            host.yield();
        }
        file.sync();
        file.close();
    }
    // Four pattern passes. Each step k writes the pattern at k and then "x" at k, so the
    // steps leave B - 1 bytes "x"; the run of "u" at the last step's offset then covers
    // what remained of the last pattern.
    for (int pass = 0; pass < 4; ++pass) {
        host.yield();
        File file = File::openRegular(path, File::Access::ReadWrite, host);
        const off_t blocks = file.size() / kBlockSize + 1;
        const off_t last = blocks - 1;
        fillRange(file, 'x', 0, last, host);
        host.yield();
        const std::vector<char> us(size_t(kRunOfU), 'u');
        file.writeAt(us.data(), us.size(), last);
        file.sync();
        file.close();
        host.yield();
    }
    removeWiped(path, host);
}

void WipeFileHigh(const QByteArray& path, int passes, bool deleteAfter, const Settings& settings,
                  EngineHost& host)
{
    // The length is read once, by name, and serves every pass.
    const off_t length = fs::entryInfo(path).size;
    const off_t fourteens = off_t(roundedChunkCount(length, 14)) * 14;
    const off_t tens = off_t(roundedChunkCount(length, 10)) * 10;

    // A phase writes its chunks, which the rounding may end short of the length or past
    // it; the bytes between the last chunk and the length are written too, so nothing
    // of the original survives.
    auto phase = [&](char byte, off_t chunksEnd, bool yieldAfterOpening, bool yieldBeforeClosing) {
        File file = openForWipe(path, File::Access::WriteOnly, host);
        if (yieldAfterOpening)
            host.yield();
        fillRange(file, byte, 0, std::max(chunksEnd, length), host);
        if (yieldBeforeClosing)
            host.yield();
        file.sync();
        file.close();
    };
    for (int pass = 1; pass <= passes; ++pass) {
        phase('\x00', fourteens, true, false);
        phase('\xff', fourteens, false, false);
        phase('\x00', tens, true, true);
    }
    if (deleteAfter)
        deleteWiped(path, settings, host);
}

bool WipeAtLevel(const QByteArray& path, const QString& level, const Settings& settings,
                 EngineHost& host)
{
    if (level == QLatin1String("1"))
        WipeFileLeast(path, true, settings, host);
    else if (level == QLatin1String("2") || level.isEmpty())
        WipeFileMedium(path, host);
    else if (level == QLatin1String("3"))
        WipeFileHigh(path, 11, true, settings, host);
    else
        return false;
    return true;
}

QByteArray DeletionLogMessage(const QByteArray& path, const QString& level)
{
    return path + " Deleted via ratio " + level.toUtf8();
}

bool FileAccessible(const QByteArray& path)
{
    try {
        const off_t first = fs::entryInfo(path).size;
        const off_t second = fs::entryInfo(path).size;
        return first == second;
    } catch (const Error&) {
        return false;
    }
}

} // namespace ov
