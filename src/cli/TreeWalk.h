#pragma once

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/StopChannel.h"

#include <QByteArray>

namespace ov::cli {

// What a walk over the named paths meets. A call that throws Error fails that entry
// alone (the walk reports it through failed() and goes on), except a stop (ECANCELED),
// which ends the walk.
class WalkVisitor
{
public:
    virtual ~WalkVisitor() = default;
    // A path named on the command line that is not a folder walked with -r.
    virtual void namedFile(const QByteArray& path) = 0;
    // A regular file inside a walked folder.
    virtual void file(const fs::Folder& folder, const QByteArray& name,
                      const fs::EntryInfo& info) = 0;
    // A symbolic link, FIFO or socket inside a walked folder: removed by name only.
    virtual void special(const fs::Folder& folder, const QByteArray& name,
                         const fs::EntryInfo& info) = 0;
    // A walked folder whose every entry went: removed from its parent.
    virtual void emptied(const fs::Folder& parent, const QByteArray& name) = 0;
    // An entry that failed or is left alone.
    virtual void failed(const Error& error) = 0;
};

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
