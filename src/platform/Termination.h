#pragma once

#include "platform/StopChannel.h"

namespace ov::termination {

// SIGINT, SIGTERM and SIGHUP no longer end the process at once: each asks `channel` to
// stop after the write in hand, so that a run can flush and remove what it must first.
// A second signal changes nothing more (the first one stands); the program ends by it
// itself with endBy(). A signal ignored at the start (nohup) stays ignored.
void stopOnTermination(StopChannel& channel);
// The first of those signals that arrived; 0 for none.
int received();
// A descriptor that becomes readable when such a signal arrives (for an event loop).
int notifierFd();
// Ends the process by `signal` as if it had not been caught, so that a shell script or
// loop that started it sees it killed by that signal and stops too.
[[noreturn]] void endBy(int signal);

} // namespace ov::termination
