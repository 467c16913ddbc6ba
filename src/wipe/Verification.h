#pragma once

#include "platform/Extents.h"
#include "platform/FileSystemKind.h"

#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace ov {

// How sure a wipe can be that a file's old bytes are gone from the device, from the most
// to the least certain.
struct Verdict
{
    enum class Kind
    {
        // The old blocks were read back from the device and hold what the wipe wrote.
        Verified,
        // Overwritten in place and flushed, but not read back from the device.
        Overwritten,
        // The old bytes are still on the device (other copies share them, or the file
        // system wrote the new bytes elsewhere).
        NotReached,
    };
    Kind kind = Kind::Overwritten;
    QString cause;  // a word or two: "moved", "shared", "memory only"
    QString detail; // why, as a sentence without the final stop
    QString advice; // what to do about it (a file not reached)

    // "verified on the device", "overwritten (memory only)", "not reached (moved)".
    QString text() const;
    // The text, the detail and the advice in one line, for reports and the log.
    QString explained() const;
    bool destroyed() const { return kind != Kind::NotReached; }
};

// What a wipe has left in each stretch of a file so far. Every write of a wipe is one
// byte repeated, so a stretch is a range and its byte; a later write replaces what an
// earlier one left.
class WrittenBytes
{
public:
    struct Stretch
    {
        off_t from = 0;
        off_t to = 0;
        char byte = 0;
    };

    void record(off_t from, off_t to, char byte);
    // The stretches that lie (partly) in [from, to), cut to it, in order; neighbours of
    // one byte joined.
    std::vector<Stretch> within(off_t from, off_t to) const;

private:
    std::map<off_t, Stretch> m_stretches; // by where they start
};

// The verdict that the file's extents alone give, before anything is read back: nothing
// when they say the overwrite reached the old blocks (the same places before and after,
// none shared), so that only reading them back can tell more.
std::optional<Verdict> judgeByExtents(const FileSystemKind& kind,
                                      const std::optional<std::vector<fs::Extent>>& before,
                                      const std::optional<std::vector<fs::Extent>>& after,
                                      off_t length);

// The verdicts a read back gives: the bytes were found (read from `readFrom`), or not; or
// nothing could be read.
Verdict verifiedVerdict(const QString& readFrom);
Verdict mismatchVerdict(const QString& where);
Verdict notReadBackVerdict(const QString& why);

} // namespace ov
