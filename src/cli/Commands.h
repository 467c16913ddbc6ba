#pragma once

#include "platform/StopChannel.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <optional>
#include <vector>

namespace ov::cli {

// Each takes the arguments after its command word and returns the exit status.
int wipeCommand(const std::vector<QByteArray>& args);
int driveInfoCommand(const std::vector<QByteArray>& args);
int cleanFreeSpaceCommand(const std::vector<QByteArray>& args);

// After a wipe with --clean-names: the names step on each volume the paths were on; the
// exit status (1 when it failed or was stopped somewhere).
int cleanNamesAfterWipe(const std::vector<QByteArray>& paths, StopChannel& stop);

// The help of the program and of each command (what --help prints).
QByteArray programHelp();
QByteArray wipeHelp();
QByteArray driveInfoHelp();
QByteArray cleanFreeSpaceHelp();
// "ombrevault-cli wipe: PROBLEM" and where to read more, on stderr; returns 2, the
// status of a usage error.
int usageError(const char* command, const QByteArray& problem);

// A one-line progress bar on stderr, for a terminal only. Each drawing replaces the last
// one in place and is fitted to the terminal's width as it is then.
class ProgressLine
{
public:
    explicit ProgressLine(bool enabled) : m_enabled(enabled) { m_clock.start(); }
    bool enabled() const { return m_enabled; }
    // True about ten times a second, when there is a terminal to draw on.
    bool due();
    // "[####    ] text", the bar filled by `fraction` (0 to 1).
    void draw(double fraction, const QByteArray& text);
    // The same with pieces that give way on a narrow terminal: see fitProgressLine.
    void draw(double fraction, const std::vector<std::vector<QByteArray>>& figures,
              const QByteArray& name);
    // Takes the line away again, before other output.
    void clear();

private:
    void show(const QByteArray& line);
    bool m_enabled;
    bool m_drawn = false;
    QElapsedTimer m_clock;
};

// The progress line for a terminal `columns` wide, never reaching its last column (where
// a terminal may wrap to a new line): a bar filled by `fraction`, figures and the name
// (cut from its start, "..." before its end). The figures come in sets from the widest
// to the most compact; the bar goes first, then sets, then the last set's figures from
// its end, then the name.
QByteArray fitProgressLine(double fraction, const std::vector<std::vector<QByteArray>>& sets,
                           const QByteArray& name, int columns);
// The columns a text takes on a terminal; a character beyond ASCII counts as two, so that
// a wide one never overflows the line.
int displayWidth(const QByteArray& utf8);

// "512 B", "12.3 MiB", "4.0 GiB"; compact: "512B", "12M", "4.0G".
QByteArray sizeText(qint64 bytes, bool compact = false);
// "0:07", "12:34", "1:02:03".
QByteArray durationText(qint64 seconds);

// Asked to stop by SIGINT, SIGTERM or SIGHUP; long commands look at it between writes.
StopChannel& interruptChannel();
bool interruptRequested();
void installInterruptHandler();

} // namespace ov::cli
