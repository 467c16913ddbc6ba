#include "platform/TimedQueries.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace ov {

namespace {

struct Job
{
    std::function<void()> call;
    QByteArray key;
    bool finished = false;
};

} // namespace

// What the asking side and the answering threads share; it lives as long as either.
struct TimedQueries::Shared
{
    std::mutex mutex;
    std::condition_variable work;     // a job came, or the owner went away
    std::condition_variable finished; // a job finished
    std::deque<std::shared_ptr<Job>> queue;
    std::set<QByteArray> busy; // keys whose job has not finished
    int idle = 0;              // threads waiting for a job
    int started = 0;
    bool closing = false;

    void serve()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            ++idle;
            work.wait(lock, [&] { return closing || !queue.empty(); });
            --idle;
            if (queue.empty())
                return; // closing
            std::shared_ptr<Job> job = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            try {
                job->call();
            } catch (...) {
                // A query answers "failed" by leaving its answer empty.
            }
            lock.lock();
            job->finished = true;
            busy.erase(job->key);
            finished.notify_all();
            // One thread waiting is enough; one that was stuck and came back goes.
            if (idle > 0)
                return;
        }
    }
};

TimedQueries::TimedQueries(BlockingRunner& runner, std::chrono::milliseconds limit)
    : m_runner(runner), m_limit(limit), m_shared(std::make_shared<Shared>())
{}

TimedQueries::~TimedQueries()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->closing = true;
    m_shared->work.notify_all();
}

int TimedQueries::threadsStarted() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->started;
}

bool TimedQueries::run(const QByteArray& key, std::function<void()> call)
{
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    job->key = key;
    {
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->busy.insert(key).second)
            return false;
        m_shared->queue.push_back(job);
        if (m_shared->idle == 0) {
            // The first question, or every thread is stuck in a question of its own.
            ++m_shared->started;
            std::thread([shared = m_shared] { shared->serve(); }).detach();
        } else {
            m_shared->work.notify_one();
        }
    }
    bool done = false;
    m_runner.runBlocking([&] {
        std::unique_lock lock(m_shared->mutex);
        done = m_shared->finished.wait_for(lock, m_limit, [&] { return job->finished; });
    });
    return done;
}

} // namespace ov
