#include "cli/Commands.h"

#include "platform/Termination.h"

namespace ov::cli {

namespace {
StopChannel g_interrupt;
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
    termination::stopOnTermination(g_interrupt);
}

} // namespace ov::cli
