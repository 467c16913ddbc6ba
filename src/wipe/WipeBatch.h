#pragma once

#include "platform/Error.h"
#include "wipe/WipeTarget.h"

#include <QByteArray>

#include <functional>
#include <optional>
#include <vector>

namespace ov {

// Many files destroyed at the least level together: each pass runs over the whole batch
// and is then flushed with one flush of each volume, instead of one flush per file per
// pass, so that a thousand small files take a few flushes instead of thousands. Every
// pass still reaches the disk before the next one starts and before any file is deleted.
// Each file is held and checked as a single wipe holds and checks it, fails alone, and
// ends through the same step as a single wipe (its verdict, then the delete); only the
// flushes are gathered, and so a file counts as destroyed only once the whole batch is
// over.
class WipeBatch
{
public:
    explicit WipeBatch(const WipeEnv& env) : m_env(env) {}

    // Holds and checks a file as a single wipe would; throws that wipe's Error when it
    // would refuse the file (nothing is written then).
    void add(const QByteArray& path);
    void add(const fs::Folder& folder, const QByteArray& name);

    bool empty() const { return m_files.empty(); }
    // Lets go of the files without touching them.
    void clear();
    // As many files, or bytes, as one batch takes.
    bool full() const;
    // Whether a file of the batch lies in the folder or below it.
    bool holdsBelow(const QByteArray& folderPath) const;

    struct Result
    {
        QByteArray path;                    // as the file was named
        std::optional<WipeOutcome> outcome; // it was dealt with: its verdict is inside
        std::optional<Error> failure;       // or not: why (ECANCELED: a stop)
        bool touched = false;               // some of it was overwritten
    };
    // Runs the passes and the endings and empties the batch; `inHand` hears of each file
    // as a pass takes it up. A stop now ends the passes after the write in hand: what was
    // written is flushed, and every file not yet dealt with fails with ECANCELED. A stop
    // after the file in hand leaves the files the first pass had not begun (ECANCELED),
    // and finishes the others.
    std::vector<Result> run(const std::function<void(const QByteArray&)>& inHand = {});

private:
    struct File
    {
        WipeTarget target;
        QByteArray path;
        std::optional<Error> failure;
        bool touched = false;
    };
    WipeTarget::Rules rules() const;
    // syncfs of each volume the files still going lie on; a failure fails them all.
    void flushVolumes(std::vector<File>& files);

    const WipeEnv& m_env;
    std::vector<File> m_files;
    off_t m_bytes = 0;
};

} // namespace ov
