#pragma once

#include "platform/Extents.h"
#include "platform/FileSystemKind.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace ov {

// How sure a wipe can be that a file's old bytes are gone from the device, from the most
// to the least certain. Only positive evidence counts: what a layer between the name and
// the medium cannot show is told, with the layer, the reason and what to do.
struct Verdict
{
    enum class Kind
    {
        // The old blocks were read back from the device and hold what the wipe wrote.
        Verified,
        // Overwritten in place and flushed, where the one thing not known lies beyond this
        // machine (the server of a network file system, swapped-out memory) or reading
        // back was left out as asked: told in the verdict.
        Overwritten,
        // Some layer could not be judged: the bytes may or may not be gone.
        NotProved,
        // The old bytes are still on the device (other copies share them, or the file
        // system wrote the new bytes elsewhere).
        NotReached,
    };
    // The layer between the name and the medium that decided the verdict.
    enum class Layer
    {
        FileSystem, // how the file system writes this file: kind, mount options, flags, extents
        Stacking,   // what lies under the file system: an overlay, a loop image, a server
        Device,     // the read back of the old blocks
    };
    Kind kind = Kind::NotProved;
    QString cause;  // a word or two: "moved", "shared", "memory only"
    QString detail; // why, as a sentence without the final stop
    QString advice; // what to do about it (a file not reached)
    Layer layer = Layer::FileSystem;
    // What the device itself may keep whatever the file system did (flash memory); it does
    // not change whether the file counts as destroyed.
    QString caveat;

    // "verified on the device", "overwritten (memory only)", "not reached (moved)".
    QString text() const;
    // The text, the deciding layer, the detail, the advice and the caveat in one line, for
    // reports and the log: "not reached (moved), file system layer: btrfs writes ...".
    QString explained() const;
    bool destroyed() const { return kind == Kind::Verified || kind == Kind::Overwritten; }
    // "verified", "overwritten", "not-proved", "not-reached".
    QString kindName() const;
    // "file system", "stacking", "device".
    QString layerName() const;
    // One JSON object on one line (no line break at the end) for a script: the path as it
    // was given, whether destroyed, the verdict's text, kind, layer, cause, reason, what to
    // do and the caveat.
    QByteArray json(const QByteArray& path) const;
};

// The same object for a file that could not be dealt with: destroyed false, the kind
// "failed" and the reason.
QByteArray failureJson(const QByteArray& path, const QString& reason);

// What decides whether overwriting a file can reach its old bytes, besides its extents.
struct Reach
{
    Reach() = default;
    Reach(FileSystemKind fileSystem) : kind(std::move(fileSystem)) {}
    FileSystemKind kind;
    bool noCow = false;        // the file is marked to be overwritten in place (FS_NOCOW_FL)
    bool compressed = false;   // compressed by its own flag or by the mount
    bool journalsData = false; // data=journal, or the file's own journalling flag
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

// The verdict that the file system's ways and the file's extents give, before anything is
// read back: nothing when they say the overwrite reached the old blocks (every place that
// held data holds it still, none shared), so that only reading them back can tell more.
std::optional<Verdict> judgeByExtents(const Reach& reach,
                                      const std::optional<std::vector<fs::Extent>>& before,
                                      const std::optional<std::vector<fs::Extent>>& after,
                                      off_t length);

// The verdicts a read back gives: the bytes were found (read from `readFrom`), or not; or
// nothing could be read.
Verdict verifiedVerdict(const QString& readFrom);
Verdict mismatchVerdict(const QString& where);
Verdict notReadBackVerdict(const QString& why);
// Read back was left out as the user asked.
Verdict readBackLeftOutVerdict();

} // namespace ov
