#pragma once

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/StopChannel.h"
#include "wipe/DeletionRun.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace ov::cli {

// What a walk meets: the shared deletion run's sink, or a count.
using WalkVisitor = EntrySink;

// Walks what the command line names. Without recursion each path goes to namedFile().
// With it a folder is walked depth first, each folder opened from the one it is in (never
// through a link, never by its path), every entry in byte order, a folder's entries
// before the folder itself, which is handed on only when everything in it went. While a
// folder below is walked the one above is let go, and taken back through ".." only when
// it is still the same folder: a tree of any depth needs a few descriptors, as with rm.
class TreeWalk
{
public:
    struct Rules
    {
        bool recursive = false;
        bool oneFileSystem = false; // no folder on another device is entered
    };

    TreeWalk(BlockingRunner& runner, const StopChannel& stop, Rules rules, WalkVisitor& visitor)
        : m_runner(runner), m_stop(stop), m_rules(rules), m_visitor(visitor)
    {}

    // One absolute path as named. Throws Error(ECANCELED) when a stop was asked for.
    void walk(const QByteArray& path);

private:
    // Walks the folder `name` of `parent`; true when everything in it went. `parent` is
    // let go meanwhile and comes back empty when it could not be taken back (reported).
    bool walkFolder(std::optional<fs::Folder>& parent, const QByteArray& name, dev_t device);
    bool walkEntries(std::optional<fs::Folder>& folder, std::vector<QByteArray> names,
                     dev_t device);
    // The folder at `path` again, after the walk below it: through ".." of the folder
    // below, else by its path; only when it is still the folder `id`.
    fs::Folder takeBack(const std::optional<fs::Folder>& below, const QByteArray& path,
                        fs::Identity id);
    // Runs one entry's step; a failure is reported and gives false.
    template <class Step> bool attempt(Step&& step);
    void checkStop() const;

    BlockingRunner& m_runner;
    const StopChannel& m_stop;
    Rules m_rules;
    WalkVisitor& m_visitor;
};

} // namespace ov::cli
