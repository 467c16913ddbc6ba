#pragma once

#include <functional>
#include <optional>
#include <type_traits>

namespace ov {

// How the engine shares the thread that runs it with the window. The threading contract:
//
// - The engine runs on the thread that starts it: the window's interface thread, or the
//   command line's main thread. Its state belongs to that thread.
// - Everything that may block in the kernel is handed off with runBlocking() in coarse
//   units: one file's checks, one pass over a file (open, writes, flush), one pass over a
//   batch with its volume flush, one file's verdict and delete, one free-space cycle, one
//   log line, one wait for a volume query. The window's runner carries each out on its one
//   long-lived worker thread, in order, one at a time, while the interface thread serves
//   events; the caller resumes when the unit is over (or rethrows what it threw). The
//   hand-off and the return order everything the unit did before what follows.
// - A unit touches no widget. While it runs, the interface thread may only request a stop
//   (StopChannel, atomic); the unit checks it between writes. The only calls out of a unit
//   are progress counts (DeletionView::wrote, fileInHand), which the view must take on
//   any thread.
// - runBlocking() called on the worker (a unit inside a unit) runs in place.
// - yield() lets the window serve pending events between units; off the interface thread
//   it does nothing (the command line's runner draws its progress line there).
// - The time-limited volume queries (TimedQueries) run on threads of their own, which a
//   query that never returns may keep; the caller waits for them with runBlocking().
class BlockingRunner
{
public:
    virtual ~BlockingRunner() = default;
    virtual void yield() = 0;
    virtual void runBlocking(const std::function<void()>& call) = 0;
    // runBlocking for a call with a result.
    template <class Call> auto blocking(Call&& call) -> std::invoke_result_t<Call&>
    {
        using Result = std::invoke_result_t<Call&>;
        if constexpr (std::is_void_v<Result>) {
            runBlocking(call);
        } else {
            std::optional<Result> result;
            runBlocking([&] { result.emplace(call()); });
            return std::move(*result);
        }
    }
};

// No event loop: yield does nothing, calls run in place (the command line, tests).
class InPlaceRunner : public BlockingRunner
{
public:
    void yield() override {}
    void runBlocking(const std::function<void()>& call) override { call(); }
};

// The window's runner: processEvents() when a QCoreApplication exists and we are
// on its thread; blocking calls go to a worker thread meanwhile. Without an
// application object it behaves like InPlaceRunner.
class WorkerThreadRunner : public BlockingRunner
{
public:
    WorkerThreadRunner();
    ~WorkerThreadRunner() override;
    void yield() override;
    void runBlocking(const std::function<void()>& call) override;

private:
    struct Worker;
    Worker* m_worker;
};

} // namespace ov
