#include "platform/BlockingRunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace ov {

namespace {

// What a waiting interface thread and the thread doing the call share.
struct CallState
{
    std::mutex mutex;
    std::condition_variable finishedCv;
    bool finished = false;
    std::exception_ptr failure;
    QEventLoop* waiter = nullptr; // touched on the interface thread only
};

void runCall(const std::function<void()>& call, CallState& state)
{
    std::exception_ptr failure;
    try {
        call();
    } catch (...) {
        failure = std::current_exception();
    }
    std::lock_guard lock(state.mutex);
    state.failure = failure;
    state.finished = true;
    state.finishedCv.notify_all();
}

// Tells the interface thread that a call is over; the lambda runs on that thread, so it
// may look at the waiter without a lock.
void wakeInterfaceThread(const std::shared_ptr<CallState>& state)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [state] {
            if (state->waiter)
                state->waiter->quit();
        },
        Qt::QueuedConnection);
}

bool onInterfaceThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && !QCoreApplication::closingDown() && QThread::currentThread() == app->thread();
}

bool isFinished(CallState& state)
{
    std::lock_guard lock(state.mutex);
    return state.finished;
}

// Serves events until the call has finished.
void waitServingEvents(const std::shared_ptr<CallState>& state)
{
    if (isFinished(*state))
        return;
    QEventLoop loop;
    state->waiter = &loop;
    // exec() returns when the finished call quits it. Any other return is an application
    // exit, after which every exec() returns at once: wait for the call without serving
    // events rather than spin.
    loop.exec();
    state->waiter = nullptr;
    std::unique_lock lock(state->mutex);
    state->finishedCv.wait(lock, [&] { return state->finished; });
}

// The failure is taken out of the shared state: the exception then lives and dies on the
// thread that handles it, whichever thread lets go of the state last.
void rethrowIfFailed(const std::shared_ptr<CallState>& state)
{
    std::exception_ptr failure;
    {
        std::lock_guard lock(state->mutex);
        failure = std::move(state->failure);
        state->failure = nullptr;
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

// One long-lived thread that performs the blocking calls in the order they come.
struct WorkerThreadRunner::Worker
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<std::function<void()>, std::shared_ptr<CallState>>> queue;
    bool stopping = false;
    std::thread thread;

    void start()
    {
        if (thread.joinable())
            return;
        thread = std::thread([this] { loop(); });
    }

    void loop()
    {
        for (;;) {
            std::function<void()> call;
            std::shared_ptr<CallState> state;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty())
                    return;
                call = std::move(queue.front().first);
                state = std::move(queue.front().second);
                queue.pop_front();
            }
            runCall(call, *state);
            wakeInterfaceThread(state);
        }
    }

    ~Worker()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (thread.joinable())
            thread.join();
    }
};

WorkerThreadRunner::WorkerThreadRunner() : m_worker(new Worker) {}

WorkerThreadRunner::~WorkerThreadRunner()
{
    delete m_worker;
}

void WorkerThreadRunner::yield()
{
    if (onInterfaceThread())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WorkerThreadRunner::runBlocking(const std::function<void()>& call)
{
    if (!onInterfaceThread()) {
        call();
        return;
    }
    auto state = std::make_shared<CallState>();
    {
        std::lock_guard lock(m_worker->mutex);
        m_worker->start();
        m_worker->queue.emplace_back(call, state);
    }
    m_worker->wake.notify_one();
    waitServingEvents(state);
    rethrowIfFailed(state);
}

} // namespace ov
