#include "wipe/WipeMethods.h"

#include "platform/Error.h"
#include "wipe/PathHelpers.h"

#include <algorithm>
#include <cerrno>
#include <limits>

namespace ov {

namespace {

using Access = fs::File::Access;

constexpr off_t kBlockSize = 4096;
constexpr off_t kRunOfU = 10000;
constexpr off_t kMaxOffset = std::numeric_limits<off_t>::max();
// The high level's three phases are repeated this many times.
constexpr int kHighRepeats = 11;
// The medium level's pattern passes after its block pass.
constexpr int kMediumPatternPasses = 4;

} // namespace

void leastPass(WipeTarget& target, int pass)
{
    static const char passBytes[kLeastPasses] = {'\x00', '\xff', '\x00'};
    // The whole file as it stands, its length unchanged.
    WipePass::run(target, Access::ReadWrite, [&](WipePass& written) {
        written.fill(passBytes[pass], 0, written.startLength());
    });
    target.env().runner.yield();
}

long long roundedChunkCount(long long length, long long divisor)
{
    long long quotient = length / divisor;
    long long twiceRemainder = 2 * (length % divisor);
    if (twiceRemainder > divisor || (twiceRemainder == divisor && (quotient % 2) == 1))
        ++quotient;
    return quotient;
}

int passCount(WipeLevel level)
{
    switch (level) {
    case WipeLevel::Least:
        return kLeastPasses;
    case WipeLevel::High:
        return 3 * kHighRepeats;
    case WipeLevel::Medium:
        break;
    }
    return 1 + kMediumPatternPasses;
}

long long plannedWrites(WipeLevel level, long long length)
{
    switch (level) {
    case WipeLevel::Least:
        return kLeastPasses * length;
    case WipeLevel::High: {
        const auto covered = [&](long long chunk) {
            return std::max(roundedChunkCount(length, chunk) * chunk, length);
        };
        return kHighRepeats * (2 * covered(14) + covered(10));
    }
    case WipeLevel::Medium:
        break;
    }
    // The block pass writes "X" and "0" over whole blocks, one past the end; each pattern
    // pass writes one "x" per block and the run of "u".
    const long long blocks = length / kBlockSize + 1;
    return 2 * blocks * kBlockSize + kMediumPatternPasses * (blocks + kRunOfU);
}

WipeTarget::Rules wipeRules(WipeLevel level, bool deleteAfter, const WipeEnv& env)
{
    WipeTarget::Rules rules;
    rules.deleteAfter = deleteAfter;
    rules.giveOwnerWrite = env.giveOwnerWrite;
    rules.refuseReadOnly = !env.giveOwnerWrite;
    switch (level) {
    case WipeLevel::Least:
        rules.scramble = deleteAfter && env.settings.ScrambleNames;
        break;
    case WipeLevel::Medium:
        // The block pass grows the file to whole blocks, the pattern passes once more and
        // by the run of "u": the length must leave room for both. It never renames, and
        // it makes a read-only file writable first unless told to refuse it.
        rules.maxLength = kMaxOffset - 2 * kBlockSize - kRunOfU;
        rules.giveOwnerWrite = env.giveOwnerWrite || !env.refuseReadOnly;
        rules.refuseReadOnly = !rules.giveOwnerWrite;
        break;
    case WipeLevel::High:
        rules.scramble = deleteAfter && env.settings.ScrambleNames;
        rules.maxLength = kMaxOffset - 14;
        break;
    }
    return rules;
}

namespace {

void leastPasses(WipeTarget& target)
{
    for (int pass = 0; pass < kLeastPasses; ++pass)
        leastPass(target, pass);
}

void highPasses(WipeTarget& target, int passes)
{
    BlockingRunner& runner = target.env().runner;
    // The length is read once and serves every pass.
    const off_t length = target.initialLength();
    const off_t fourteens = off_t(roundedChunkCount(length, 14)) * 14;
    const off_t tens = off_t(roundedChunkCount(length, 10)) * 10;

    // A phase writes its chunks, which the rounding may end short of the length or past
    // it; the bytes between the last chunk and the length are written too, so nothing of
    // the original survives.
    auto phase = [&](char byte, off_t chunksEnd, bool yieldAfterOpening, bool yieldBeforeClosing) {
        WipePass::run(target, Access::WriteOnly, [&](WipePass& pass) {
            if (yieldAfterOpening)
                runner.yield();
            off_t end = std::max(chunksEnd, length);
            // Data someone else appended is overwritten too.
            if (target.changed())
                end = std::max(end, pass.startLength());
            pass.fill(byte, 0, end);
            if (yieldBeforeClosing)
                runner.yield();
        });
    };
    for (int pass = 1; pass <= passes; ++pass) {
        phase('\x00', fourteens, true, false);
        phase('\xff', fourteens, false, false);
        phase('\x00', tens, true, true);
    }
}

// A level's course on a prepared file. When the rules say so, the owner may write the
// file first, and it gets its old mode back when the wipe fails or keeps the file: a
// file that stays keeps the permissions it had.
template <class Course> WipeOutcome withOwnerWrite(WipeTarget& target, Course&& course)
{
    if (!target.rules().giveOwnerWrite)
        return course();
    target.makeOwnerWritable();
    try {
        const WipeOutcome outcome = course();
        if (!target.rules().deleteAfter)
            target.restoreMode();
        return outcome;
    } catch (...) {
        target.restoreMode();
        throw;
    }
}

WipeOutcome mediumCourse(WipeTarget& target)
{
    return withOwnerWrite(target, [&] { return OverwriteMedium(target); });
}

WipeOutcome leastCourse(WipeTarget& target)
{
    return withOwnerWrite(target, [&] {
        leastPasses(target);
        return target.conclude();
    });
}

WipeOutcome highCourse(WipeTarget& target, int passes)
{
    return withOwnerWrite(target, [&] {
        highPasses(target, passes);
        return target.conclude();
    });
}

} // namespace

WipeOutcome WipeFileLeast(const QByteArray& path, bool deleteAfter, const WipeEnv& env)
{
    WipeTarget target =
        WipeTarget::prepare(path, wipeRules(WipeLevel::Least, deleteAfter, env), env);
    return leastCourse(target);
}

WipeOutcome WipeFileMedium(const QByteArray& path, const WipeEnv& env)
{
    if (path == " " || path.isEmpty()) {
        env.runner.yield();
        return WipeOutcome{};
    }
    WipeTarget target = WipeTarget::prepare(path, wipeRules(WipeLevel::Medium, true, env), env);
    return mediumCourse(target);
}

WipeOutcome OverwriteMedium(WipeTarget& target)
{
    BlockingRunner& runner = target.env().runner;
    // Block pass: every block written with "X", then with "0", one block past the end.
    WipePass::run(target, Access::ReadWrite, [&](WipePass& pass) {
        const off_t end = (pass.startLength() / kBlockSize + 1) * kBlockSize;
        // Piece by piece, "X" then "0" over the same piece, as block by block would.
        for (off_t at = 0; at < end;) {
            const off_t to = std::min<off_t>(end, at + off_t(kWriteChunk));
            pass.fill('X', at, to);
            pass.fill('0', at, to);
            at = to;
        }
    });
    // Four pattern passes. Each step k writes the pattern at k and then "x" at k, so the
    // steps leave B - 1 bytes "x"; the run of "u" at the last step's offset then covers
    // what remained of the last pattern.
    for (int pass = 0; pass < kMediumPatternPasses; ++pass) {
        runner.yield();
        WipePass::run(target, Access::ReadWrite, [&](WipePass& pattern) {
            const off_t last = pattern.startLength() / kBlockSize;
            pattern.fill('x', 0, last);
            runner.yield();
            const QByteArray us(kRunOfU, 'u');
            pattern.write(us.constData(), size_t(us.size()), last);
            // Someone else's appended data past the run is overwritten too.
            if (target.changed())
                pattern.fill('u', last + kRunOfU, pattern.startLength());
        });
        runner.yield();
    }
    return target.conclude();
}

WipeOutcome WipeFileHigh(const QByteArray& path, int passes, bool deleteAfter, const WipeEnv& env)
{
    WipeTarget target =
        WipeTarget::prepare(path, wipeRules(WipeLevel::High, deleteAfter, env), env);
    return highCourse(target, passes);
}

WipeOutcome wipePrepared(WipeTarget& target, WipeLevel level)
{
    switch (level) {
    case WipeLevel::Least:
        return leastCourse(target);
    case WipeLevel::High:
        return highCourse(target, kHighRepeats);
    case WipeLevel::Medium:
        break;
    }
    return mediumCourse(target);
}

WipeOutcome wipeAtLevel(const QByteArray& path, WipeLevel level, const WipeEnv& env)
{
    if (level == WipeLevel::Medium)
        return WipeFileMedium(path, env);
    WipeTarget target = WipeTarget::prepare(path, wipeRules(level, true, env), env);
    return wipePrepared(target, level);
}

WipeOutcome wipeInFolder(const fs::Folder& folder, const QByteArray& name, WipeLevel level,
                         const WipeEnv& env)
{
    WipeTarget target =
        WipeTarget::prepareIn(folder.duplicate(), name, wipeRules(level, true, env), env);
    return wipePrepared(target, level);
}

QByteArray deletionLogMessage(const QByteArray& path, const QString& levelText)
{
    return path + " Deleted via ratio " + levelText.toUtf8();
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
