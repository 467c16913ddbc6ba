#pragma once

#include "platform/EngineHost.h"
#include "platform/Error.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace ov {

// What the deletion run needs of the window: the File Cleaner panel's labels, pointer,
// timer and pending list.
class DeletionView
{
public:
    virtual ~DeletionView() = default;
    virtual void setStatus(const QString& text) = 0;       // lblStatus
    virtual void setTotalFiles(const QString& text) = 0;   // Label4
    virtual void setFilesDeleted(const QString& text) = 0; // Label5
    virtual void setFilesLeft(const QString& text) = 0;    // Label6
    virtual void setBusy(bool busy) = 0;                   // hourglass pointer
    virtual void setTimerRunning(bool running) = 0;        // Timer2
    virtual int count() const = 0;                         // List1
    virtual QByteArray item(int index) const = 0;
    virtual void setItems(const std::vector<QByteArray>& items) = 0;
    virtual void clear() = 0;
    // The failure that ended a run: the window shows it with the path and the reason.
    virtual void reportError(const Error& error) = 0;
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

    DeletionRun(DeletionView& view, const Settings& settings, const OperationLog& log,
                EngineHost& host);

    Outcome cmdDelete_Click();
    // Asks a run in progress to end after the file in hand.
    void requestStop() { m_stopRequested = true; }
    bool isRunning() const { return m_running; }

private:
    Outcome run();

    DeletionView& m_view;
    const Settings& m_settings;
    const OperationLog& m_log;
    EngineHost& m_host;
    bool m_running = false;
    bool m_stopRequested = false;
};

} // namespace ov
