#include "platform/Termination.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ov::termination {

namespace {

StopChannel* g_channel = nullptr;
std::atomic<int> g_received{0};
int g_pipe[2] = {-1, -1};

void onTermination(int signal)
{
    int none = 0;
    g_received.compare_exchange_strong(none, signal);
    if (g_channel)
        g_channel->request(StopChannel::When::AfterWrite);
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    }
}

} // namespace

void stopOnTermination(StopChannel& channel)
{
    g_channel = &channel;
    if (g_pipe[0] < 0) [[maybe_unused]]
        const int rc = ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = onTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored when the program started stays ignored: whoever started it
        // (nohup, a script's job in the background) asked that it run on.
        struct sigaction before = {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

int received()
{
    return g_received.load();
}

int notifierFd()
{
    return g_pipe[0];
}

void endBy(int signal)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

} // namespace ov::termination
