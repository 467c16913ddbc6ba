#pragma once

#include "platform/EngineHost.h"
#include "platform/Error.h"
#include "platform/StopChannel.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace ov {

// What the deletion run shows: the File Cleaner panel's labels, pointer, timer and list.
class DeletionView
{
public:
    virtual ~DeletionView() = default;
    virtual void setStatus(const QString& text) = 0;       // lblStatus
    virtual void setTotalFiles(const QString& text) = 0;   // Label4
    virtual void setFilesDeleted(const QString& text) = 0; // Label5
    virtual void setFilesLeft(const QString& text) = 0;    // Label6
    // The hourglass and Timer2 together: on for the whole run, off on every way out.
    virtual void setRunning(bool running) = 0;
    // The pending list's entries as the run leaves them: after duplicate removal, and at
    // the end what is left (nothing after a complete run).
    virtual void setPending(const std::vector<QByteArray>& entries) = 0;
    // The failure that ended a run: the window shows it with the path and the reason.
    virtual void reportError(const Error& error) = 0;
    // After a run, what the user must know about the files it dealt with (files deleted
    // whose old data the overwrite could not reach, other names that still point at the
    // overwritten contents): one message, a line per file.
    virtual void reportNotices(const QStringList& lines) = 0;
};

// The File Cleaner's delete command: removes duplicates, then wipes every entry at the
// current level, logging each one first when logging is on, and empties the list.
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

    // Relative entries are taken from `startFolder` for the wipe; their text stays.
    DeletionRun(DeletionView& view, const Settings& settings, const OperationLog& log,
                EngineHost& host, QByteArray startFolder);

    // Does nothing for an empty list, or while a run is in progress.
    Outcome run(std::vector<QByteArray> entries);
    // Asks a run in progress to end after the file in hand.
    void requestStop() { m_stop.request(StopChannel::When::AfterFile); }
    bool isRunning() const { return m_running; }

private:
    // What the user is told after the run.
    struct Notices
    {
        QStringList notReached; // files deleted whose old data is still on the device
        QStringList otherNames; // files destroyed that other names still point at
    };
    Outcome work(std::vector<QByteArray>& entries, Notices& notices, std::optional<Error>& failure);

    DeletionView& m_view;
    const Settings& m_settings;
    const OperationLog& m_log;
    EngineHost& m_host;
    QByteArray m_startFolder;
    StopChannel m_stop;
    bool m_running = false;
};

// The notice for a destroyed file that other names still point at.
QString otherNamesNotice(const QByteArray& path, unsigned long long otherNames);

} // namespace ov
