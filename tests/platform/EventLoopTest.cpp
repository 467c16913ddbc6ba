#include "platform/EventLoop.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace ov {
namespace {

using namespace std::chrono_literals;

// One application object for the tests that need an event loop.
QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "platform_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

TEST(EventLoop, WithoutAnApplicationCallsRunInPlace)
{
    DirectEventLoop direct;
    std::thread::id ranOn;
    direct.runBlocking([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_THROW(direct.runBlocking([] { throw Error(EIO, QStringLiteral("boom")); }), Error);
}

TEST(EventLoop, BlockingCallsLeaveTheInterfaceThreadServingEvents)
{
    app();
    QtEventLoop loop;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    std::thread::id ranOn;
    loop.runBlocking([&] {
        ranOn = std::this_thread::get_id();
        std::this_thread::sleep_for(200ms);
    });
    EXPECT_NE(ranOn, std::this_thread::get_id());
    // A frozen thread would have served none.
    EXPECT_GE(ticks, 5);
}

TEST(EventLoop, FailuresComeBackToTheCaller)
{
    app();
    QtEventLoop loop;
    try {
        loop.runBlocking([] { throw Error(ENOSPC, QStringLiteral("No space left"), "/x"); });
        ADD_FAILURE() << "the failure was lost";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), ENOSPC);
        EXPECT_EQ(error.path(), "/x");
    }
}

TEST(EventLoop, NestedBlockingCallsFromAnEventHandler)
{
    app();
    QtEventLoop loop;
    std::atomic<bool> outerRunning{false};
    bool innerDone = false;
    // An event served while the first call blocks starts a second one.
    QTimer::singleShot(20, [&] {
        loop.runBlocking([&] { std::this_thread::sleep_for(10ms); });
        innerDone = true;
    });
    loop.runBlocking([&] {
        outerRunning = true;
        std::this_thread::sleep_for(100ms);
    });
    EXPECT_TRUE(outerRunning);
    EXPECT_TRUE(innerDone);
}

TEST(EventLoop, ATimeLimitGivesUpOnAHungCall)
{
    app();
    QtEventLoop loop;
    auto release = std::make_shared<std::atomic<bool>>(false);
    QElapsedTimer clock;
    clock.start();
    const bool finished = loop.runBlockingFor(
        [release] {
            while (!*release)
                std::this_thread::sleep_for(5ms);
        },
        100ms);
    EXPECT_FALSE(finished);
    EXPECT_LT(clock.elapsed(), 2000);
    *release = true;
    EXPECT_TRUE(loop.runBlockingFor([] {}, 1000ms));

    DirectEventLoop direct;
    auto hold = std::make_shared<std::atomic<bool>>(false);
    EXPECT_FALSE(direct.runBlockingFor(
        [hold] {
            while (!*hold)
                std::this_thread::sleep_for(5ms);
        },
        50ms));
    *hold = true;
}

TEST(EventLoop, YieldServesPendingEvents)
{
    app();
    QtEventLoop loop;
    bool served = false;
    QTimer::singleShot(0, [&] { served = true; });
    loop.yield();
    EXPECT_TRUE(served);
}

} // namespace
} // namespace ov
