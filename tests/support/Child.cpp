#include "support/Child.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ov::test {

namespace {

std::vector<char*> pointers(QList<QByteArray>& words)
{
    std::vector<char*> list;
    for (QByteArray& word : words)
        list.push_back(word.data());
    list.push_back(nullptr);
    return list;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

Child::Child(const QList<QByteArray>& argvList, const Options& options)
{
    // Everything the child needs is made before fork(): after it, only system calls.
    QList<QByteArray> argvCopy = argvList;
    QList<QByteArray> envCopy = options.environment;
    if (envCopy.isEmpty()) {
        for (char** entry = environ; *entry; ++entry)
            envCopy << QByteArray(*entry);
    }
    std::vector<char*> argv = pointers(argvCopy);
    std::vector<char*> envp = pointers(envCopy);
    const QByteArray folder = options.folder;

    int outPipe[2], errPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
    int terminalSide = -1;
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return;
    if (options.terminalColumns > 0) {
        struct winsize size = {};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(options.terminalColumns);
        if (::openpty(&errPipe[0], &terminalSide, nullptr, nullptr, &size) != 0)
            return;
        ::fcntl(errPipe[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(terminalSide, F_SETFD, FD_CLOEXEC);
    } else if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        return;
    }
    if (options.input && ::pipe2(inPipe, O_CLOEXEC) != 0)
        return;
    const int errWrite = terminalSide >= 0 ? terminalSide : errPipe[1];

    m_pid = ::fork();
    if (m_pid == 0) {
        ::setpgid(0, 0);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            ::signal(signal, options.ignoredSignals.contains(signal) ? SIG_IGN : SIG_DFL);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errWrite, STDERR_FILENO);
        if (options.input) {
            ::dup2(inPipe[0], STDIN_FILENO);
        } else {
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
        }
        if (options.user) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(*options.user) != 0 ||
                ::setuid(*options.user) != 0)
                ::_exit(126);
        }
        if (!folder.isEmpty() && ::chdir(folder.constData()) != 0)
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    // The parent too puts it in its group, so that a signal to the group right away
    // cannot miss it.
    if (m_pid > 0)
        ::setpgid(m_pid, m_pid);
    ::close(outPipe[1]);
    ::close(errWrite);
    m_outFd = outPipe[0];
    m_errFd = errPipe[0];
    if (options.input) {
        ::close(inPipe[0]);
        const QByteArray& input = *options.input;
        for (qsizetype done = 0; done < input.size();) {
            const ssize_t n =
                ::write(inPipe[1], input.constData() + done, size_t(input.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ::close(inPipe[1]);
    }
}

Child::~Child()
{
    if (m_pid > 0 && !m_status) {
        ::kill(-m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    closeFd(m_outFd);
    closeFd(m_errFd);
}

void Child::signalGroup(int signal) const
{
    if (m_pid > 0)
        ::kill(-m_pid, signal);
}

void Child::drain(int& fd, QByteArray& into, int ms)
{
    if (fd < 0)
        return;
    struct pollfd poller = {fd, POLLIN, 0};
    if (::poll(&poller, 1, ms) <= 0)
        return;
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0)
        into.append(buffer, n);
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        closeFd(fd); // the end; a terminal says EIO once the last writer has gone
}

bool Child::pump(int ms)
{
    if (m_pid <= 0)
        return false;
    drain(m_errFd, err, m_outFd >= 0 ? 0 : ms);
    drain(m_outFd, out, ms);
    // Both closed a moment before the child's end can be seen: wait here, not in a spin.
    if (m_outFd < 0 && m_errFd < 0 && !m_status)
        ::poll(nullptr, 0, ms);
    if (!m_status) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = status;
    }
    return !m_status;
}

bool Child::wait(int timeoutMs)
{
    // By the clock: a pump returns early whenever output comes.
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        pump(20);
        if (m_status && m_outFd < 0 && m_errFd < 0)
            return true;
    }
    signalGroup(SIGKILL);
    return false;
}

bool Child::exitedWith(int code) const
{
    return m_status && WIFEXITED(*m_status) && WEXITSTATUS(*m_status) == code;
}

bool Child::killedBy(int signal) const
{
    return m_status && WIFSIGNALED(*m_status) && WTERMSIG(*m_status) == signal;
}

QByteArray Child::howItEnded() const
{
    if (!m_status)
        return "still running";
    if (WIFEXITED(*m_status))
        return "exit status " + QByteArray::number(WEXITSTATUS(*m_status));
    if (WIFSIGNALED(*m_status))
        return "killed by signal " + QByteArray::number(WTERMSIG(*m_status));
    return "stopped";
}

} // namespace ov::test
