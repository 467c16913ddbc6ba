#include "cli/Commands.h"

#include <csignal>

namespace ov::cli {

namespace {
StopChannel g_interrupt;

void onInterrupt(int)
{
    g_interrupt.request(StopChannel::When::AfterWrite);
}
} // namespace

StopChannel& interruptChannel()
{
    return g_interrupt;
}

bool interruptRequested()
{
    return g_interrupt.requested();
}

void installInterruptHandler()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C ends the program at once, as usual.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace ov::cli
