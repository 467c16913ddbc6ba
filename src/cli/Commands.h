#pragma once

#include "platform/StopChannel.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <vector>

namespace ov::cli {

// Each takes the arguments after its command word and returns the exit status.
int wipeCommand(const std::vector<QByteArray>& args);
int driveInfoCommand(const std::vector<QByteArray>& args);
int cleanFreeSpaceCommand(const std::vector<QByteArray>& args);

// A one-line progress bar on stderr, for a terminal only.
class ProgressLine
{
public:
    explicit ProgressLine(bool enabled) : m_enabled(enabled) { m_clock.start(); }
    // True about ten times a second, when there is a terminal to draw on.
    bool due();
    // "[####    ] text", the bar filled by `fraction` (0 to 1).
    void draw(double fraction, const QByteArray& text);
    // Takes the line away again, before other output.
    void clear();

private:
    bool m_enabled;
    bool m_drawn = false;
    QElapsedTimer m_clock;
};

// Asked to stop by SIGINT or SIGTERM; long commands look at it between writes.
StopChannel& interruptChannel();
bool interruptRequested();
void installInterruptHandler();

} // namespace ov::cli
