#include "cli/Commands.h"

#include <atomic>
#include <csignal>

namespace ov::cli {

namespace {
std::atomic<bool> g_interrupted{false};

void onInterrupt(int)
{
    g_interrupted.store(true);
}
} // namespace

bool interruptRequested()
{
    return g_interrupted.load();
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
