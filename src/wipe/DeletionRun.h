#pragma once

#include "platform/BlockingRunner.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/StopChannel.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"
#include "wipe/WipeTarget.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace ov {

// What the deletion run shows. The window shows the File Cleaner panel's labels, pointer,
// timer and list; the command line prints each file's verdict. Every call comes on the
// thread that started the run, except wrote().
class DeletionView
{
public:
    virtual ~DeletionView() = default;
    virtual void setStatus(const QString&) {}       // lblStatus
    virtual void setTotalFiles(const QString&) {}   // Label4
    virtual void setFilesDeleted(const QString&) {} // Label5
    virtual void setFilesLeft(const QString&) {}    // Label6
    // The hourglass and Timer2 together: on for the whole run, off on every way out.
    virtual void setRunning(bool) {}
    // The entries as the run leaves them: after duplicate removal, and at the end those
    // not dealt with (nothing after a complete run).
    virtual void setPending(const std::vector<QByteArray>&) {}
    // The failure that ended a run that stops at the first failure.
    virtual void reportError(const Error&) {}
    // After a run, what the user must know about the files it dealt with (files deleted
    // whose old data the overwrite could not reach, other names that still point at the
    // overwritten contents): one message, a line per file.
    virtual void reportNotices(const QStringList&) {}

    // File by file, as it happens.
    virtual void fileInHand(const QByteArray& /*path*/) {}
    // The size of each write. Called on the thread that does the writing (the worker).
    virtual void wrote(std::size_t /*bytes*/) {}
    virtual void fileDealtWith(const QByteArray& /*path*/, const WipeOutcome&) {}
    // Every failure, as it happens (a run that goes on after failures tells each).
    virtual void entryFailed(const Error&) {}
    // A link, FIFO, socket or emptied folder removed by name (`kind` says which), or, in a
    // dry run, a file that would be destroyed (`kind` empty) or an entry that would go.
    virtual void removed(const QByteArray& /*path*/, const QString& /*kind*/) {}
    virtual void wouldGo(const QByteArray& /*path*/, const QString& /*kind*/) {}
};

// What a walk through the named paths meets. A call that throws Error fails that entry
// alone (the walker reports it through failed() and goes on), except a stop (ECANCELED),
// which ends the walk.
class EntrySink
{
public:
    virtual ~EntrySink() = default;
    // A path named as an entry that is not a folder walked.
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

// Turns one entry into what it names: the file itself, or everything in a folder.
class EntryWalker
{
public:
    virtual ~EntryWalker() = default;
    // Throws Error(ECANCELED) when a stop was asked for.
    virtual void walk(const QByteArray& path, EntrySink& sink) = 0;
};

// How a run treats failures and files; the window's defaults.
struct DeletionPolicy
{
    // The window ends the run at the first failure; the command line goes on.
    bool stopAtFirstFailure = true;
    // Every entry is checked before the first byte, and a list with one that would fail
    // is not begun (the window); the command line destroys what it can.
    bool checkAllFirst = true;
    // Files at the least level go through WipeBatch: every pass over many files, then one
    // flush of each volume.
    bool batchLeast = true;
    // Every check a wipe makes before its first byte, and nothing else.
    bool dryRun = false;
    // A blank entry fails ("No file name given") at every level, instead of being passed
    // over at the medium level.
    bool blankEntriesFail = false;
    bool readBack = true;
    // Read-only files: made writable by their owner first (-f); refused at every level
    // (the command line without -f); or as the level says (least and high refuse them,
    // medium makes them writable).
    enum class ReadOnly
    {
        AsLevel,
        Refuse,
        MakeWritable,
    };
    ReadOnly readOnly = ReadOnly::AsLevel;
};

// The one loop over the entries named for destruction, for the window and the command
// line alike: removes duplicates, then wipes every entry at the level stored at that
// moment, logging each file first when logging is on (and a second line when it then
// survives), and tells the view what became of each.
class DeletionRun
{
public:
    enum class Outcome
    {
        NothingToDo,
        Done,
        Failed,
        Stopped
    };

    // What a run did, for the command line's summary and exit status.
    struct Tally
    {
        long long attempted = 0; // files taken in hand (or into a batch)
        long long destroyed = 0;
        long long notReached = 0; // deleted, but the old data is still on the device
        long long failures = 0;
        long long removedFolders = 0;
        long long removedOthers = 0;
        // What a stop left: files part-overwritten, and files taken in hand but not touched.
        std::vector<QByteArray> partOverwritten;
        long long untouched = 0;
    };

    // Relative entries are taken from `startFolder` for the wipe; their text stays.
    // `log` may be null (never logging); `stop` is the run's own when null.
    DeletionRun(DeletionView& view, const Settings& settings, const OperationLog* log,
                BlockingRunner& runner, QByteArray startFolder, DeletionPolicy policy = {},
                StopChannel* stop = nullptr);
    ~DeletionRun();

    // Does nothing for an empty list, or while a run is in progress. With a walker every
    // entry goes through it (a folder walked); without, each entry is one file.
    Outcome run(std::vector<QByteArray> entries, EntryWalker* walker = nullptr);
    // Asks a run in progress to end after the file in hand.
    void requestStop() { m_stop.request(StopChannel::When::AfterFile); }
    bool isRunning() const { return m_running; }
    const Tally& tally() const { return m_tally; }

private:
    class Sink;
    Outcome work(std::vector<QByteArray>& entries, EntryWalker* walker, Sink& sink);

    DeletionView& m_view;
    const Settings& m_settings;
    const OperationLog* m_log;
    BlockingRunner& m_runner;
    QByteArray m_startFolder;
    DeletionPolicy m_policy;
    StopChannel m_ownStop;
    StopChannel& m_stop;
    bool m_running = false;
    Tally m_tally;
};

// The notice after a run whose files lay on a file system that keeps copies of deleted
// names.
QString namesMayRemainNotice();
// The notice for a destroyed file that other names still point at.
QString otherNamesNotice(const QByteArray& path, unsigned long long otherNames);

} // namespace ov
