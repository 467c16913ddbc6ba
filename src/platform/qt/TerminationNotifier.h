#pragma once

#include "platform/StopChannel.h"

#include <QObject>

class QSocketNotifier;

namespace ov {

// SIGINT, SIGTERM and SIGHUP in the window: each closes every window of the program, and
// the main window closes only once its runs have stopped after the write or file in hand
// and removed what they must. When the last window has closed, endIfReceived() ends the
// program by the signal that came. Made before the windows.
class TerminationNotifier : public QObject
{
    Q_OBJECT
public:
    TerminationNotifier();
    // Ends the process by the termination signal that came, if one did; nothing else.
    void endIfReceived() const;

signals:
    void arrived();

private:
    void closeWindows();
    StopChannel m_channel; // nothing runs on it: the windows stop their runs themselves
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace ov
