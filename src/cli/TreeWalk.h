#pragma once

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/StopChannel.h"
#include "wipe/DeletionRun.h"

#include <QByteArray>

namespace ov::cli {

// What a walk meets: the shared deletion run's sink, or a count.
using WalkVisitor = EntrySink;

// Walks what the command line names. Without recursion each path goes to namedFile().
// With it a folder is walked depth first through folders held open one inside the other
// (never through a link, never by its path again), every entry in byte order, a folder's
// entries before the folder itself, which is handed on only when everything in it went.
class TreeWalk
{
public:
    struct Rules
    {
        bool recursive = false;
        bool oneFileSystem = false; // no folder on another device is entered
    };

    TreeWalk(EngineHost& host, const StopChannel& stop, Rules rules, WalkVisitor& visitor)
        : m_host(host), m_stop(stop), m_rules(rules), m_visitor(visitor)
    {}

    // One absolute path as named. Throws Error(ECANCELED) when a stop was asked for.
    void walk(const QByteArray& path);

private:
    // Walks the folder `name` of `parent`; true when everything in it went.
    bool walkFolder(const fs::Folder& parent, const QByteArray& name, dev_t device);
    // Runs one entry's step; a failure is reported and gives false.
    template <class Step> bool attempt(Step&& step);
    void checkStop() const;

    EngineHost& m_host;
    const StopChannel& m_stop;
    Rules m_rules;
    WalkVisitor& m_visitor;
};

} // namespace ov::cli
