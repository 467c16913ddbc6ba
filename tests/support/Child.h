#pragma once

#include <QByteArray>
#include <QList>

#include <optional>
#include <sys/types.h>

namespace ov::test {

// A program run in a process group of its own, as a shell runs a job: its output read
// through pipes, or its standard error through a pseudo terminal of a given width, and
// how it ended (an exit status or the signal that killed it).
class Child
{
public:
    struct Options
    {
        QByteArray folder;               // the working folder (empty: this one)
        QList<QByteArray> environment;   // "NAME=value" pairs (empty: this process's)
        int terminalColumns = 0;         // > 0: standard error is a terminal that wide
        std::optional<uid_t> user;       // run as this user and group, with no others
        std::optional<QByteArray> input; // standard input (then closed); none: /dev/null
        // Ignored from the start, as nohup or a script's job in the background leaves
        // them; the other termination signals have their default action, whatever the
        // test runner's are.
        QList<int> ignoredSignals;
    };

    Child(const QList<QByteArray>& argv, const Options& options);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Sends the signal to the whole group, as a terminal's Ctrl-C does.
    void signalGroup(int signal) const;
    // Reads what came meanwhile, waiting up to `ms` for something; false once it ended.
    bool pump(int ms);
    // Waits for the end (reading all output); false on timeout (the group is killed then).
    bool wait(int timeoutMs = 120000);

    bool exitedWith(int code) const;
    bool killedBy(int signal) const;
    // "exit status 1", "killed by signal 2", for messages.
    QByteArray howItEnded() const;

    QByteArray out; // standard output
    QByteArray err; // standard error (what the terminal received, with a terminal)

private:
    void drain(int& fd, QByteArray& into, int ms);
    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::optional<int> m_status;
};

} // namespace ov::test
