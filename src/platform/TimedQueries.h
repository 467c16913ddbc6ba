#pragma once

#include "platform/BlockingRunner.h"

#include <QByteArray>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace ov {

// Asks questions of file systems that may never answer (a server gone away, a FUSE
// daemon that stopped, a dying disk): each question is answered within a time limit or
// counts as failed. The questions go to a long-lived thread, not to a new thread each,
// and the caller waits through the blocking runner (the window keeps serving its events).
// A question still running after the limit keeps its thread and its key: asking the same
// key again fails at once instead of leaving one more thread stuck in the kernel, and
// the next question of another key gets a fresh thread.
class TimedQueries
{
public:
    TimedQueries(BlockingRunner& runner, std::chrono::milliseconds limit);
    ~TimedQueries();
    TimedQueries(const TimedQueries&) = delete;
    TimedQueries& operator=(const TimedQueries&) = delete;

    // The query's answer, or nothing when it did not come in time. The query must own
    // everything it touches (it may finish after the caller gave up).
    template <class T>
    std::optional<T> ask(const QByteArray& key, std::function<std::optional<T>()> query)
    {
        auto answer = std::make_shared<std::optional<T>>();
        if (!run(key, [answer, query = std::move(query)] { *answer = query(); }))
            return std::nullopt;
        return *answer;
    }

    // How many threads answered questions so far: one, and one more for each question
    // that was still stuck when another came.
    int threadsStarted() const;

    struct Shared;

private:
    // False when the key is still busy or the call did not finish within the limit.
    bool run(const QByteArray& key, std::function<void()> call);

    BlockingRunner& m_runner;
    std::chrono::milliseconds m_limit;
    std::shared_ptr<Shared> m_shared;
};

} // namespace ov
