#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <type_traits>

namespace ov {

// How long-running engine work shares the interface thread with the window.
// yield() lets the window serve its pending events; runBlocking() performs a call
// that may block in the kernel (a large write, a flush, a volume query) off the
// interface thread while the interface thread keeps serving events, and returns
// (or rethrows what the call threw) once the call is over. All state stays on the
// calling thread.
class EngineHost
{
public:
    virtual ~EngineHost() = default;
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
    // Like runBlocking, but gives up waiting after `limit`: returns false and leaves
    // the call to finish on its own (it must own everything it touches).
    virtual bool runBlockingFor(std::function<void()> call, std::chrono::milliseconds limit) = 0;
};

// No event loop: yield does nothing, calls run in place (the command line, tests).
class DirectEngineHost : public EngineHost
{
public:
    void yield() override {}
    void runBlocking(const std::function<void()>& call) override { call(); }
    bool runBlockingFor(std::function<void()> call, std::chrono::milliseconds limit) override;
};

// The window's host: processEvents() when a QCoreApplication exists and we are
// on its thread; blocking calls go to a worker thread meanwhile. Without an
// application object it behaves like DirectEngineHost.
class QtEngineHost : public EngineHost
{
public:
    QtEngineHost();
    ~QtEngineHost() override;
    void yield() override;
    void runBlocking(const std::function<void()>& call) override;
    bool runBlockingFor(std::function<void()> call, std::chrono::milliseconds limit) override;

private:
    struct Worker;
    Worker* m_worker;
};

// The shared instance used by the program (a QtEngineHost).
EngineHost& processEngineHost();

} // namespace ov
