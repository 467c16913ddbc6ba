#include "platform/EngineHost.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ov {
namespace {

using namespace std::chrono_literals;
using test::readFile;
using test::writeFile;
using namespace testing;

// Spins until `done`, giving up after a while so a broken loop fails instead of hanging.
void waitUntil(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired())
        std::this_thread::yield();
}

void expectFailureComesBack(EngineHost& loop)
{
    EXPECT_THAT([&] { loop.runBlocking([] { throw Error(ENOSPC, "No space left", "/x"); }); },
                Throws<Error>(AllOf(Property(&Error::code, ENOSPC),
                                    Property(&Error::path, QByteArray("/x")))));
}

// Runs before any test below makes the application object.
TEST(EngineHost, WithoutAnApplicationCallsRunInPlace)
{
    if (QCoreApplication::instance())
        GTEST_SKIP() << "an application object exists already: run this test on its own";
    QtEngineHost qt;
    DirectEngineHost direct;
    for (EngineHost* loop : {static_cast<EngineHost*>(&qt), static_cast<EngineHost*>(&direct)}) {
        std::thread::id ranOn;
        loop->runBlocking([&] { ranOn = std::this_thread::get_id(); });
        EXPECT_EQ(ranOn, std::this_thread::get_id());
        expectFailureComesBack(*loop);
    }
}

class QtLoop : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "platform_tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    QtEngineHost loop;
};

TEST_F(QtLoop, BlockingCallsRunOffThreadWhileEventsAreServedEvenNested)
{
    std::atomic<int> ticks{0};
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(1);
    std::thread::id ranOn;
    // The call ends once the interface thread has served a few timer events meanwhile.
    loop.runBlocking([&] {
        ranOn = std::this_thread::get_id();
        waitUntil([&] { return ticks >= 3; });
    });
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_GE(ticks, 3) << "the interface thread was frozen";
    expectFailureComesBack(loop);
    // A yield serves what is pending.
    bool served = false;
    QTimer::singleShot(0, [&] { served = true; });
    loop.yield();
    EXPECT_TRUE(served);

    // An event served while a call is waited for starts a second one.
    std::atomic<bool> handlerRunning{false};
    bool innerDone = false;
    loop.runBlocking([&] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [&] {
                handlerRunning = true;
                loop.runBlocking([] {});
                innerDone = true;
            },
            Qt::QueuedConnection);
        waitUntil([&] { return handlerRunning.load(); });
    });
    EXPECT_TRUE(innerDone);
}

TEST_F(QtLoop, ATimeLimitGivesUpOnAHungCall)
{
    DirectEngineHost direct;
    for (EngineHost* each : {static_cast<EngineHost*>(&loop), static_cast<EngineHost*>(&direct)}) {
        // Hung until released; a loop that waited for it would see it end at the deadline.
        auto release = std::make_shared<std::atomic<bool>>(false);
        EXPECT_FALSE(
            each->runBlockingFor([release] { waitUntil([&] { return release->load(); }); }, 100ms));
        *release = true;
        EXPECT_TRUE(each->runBlockingFor([] {}, 20s));
    }
}

class Files : public ::testing::Test
{
protected:
    unsigned modeOf(const char* name) const
    {
        struct stat st = {};
        EXPECT_EQ(::stat(dir.file(name).constData(), &st), 0) << name;
        return st.st_mode & 0777;
    }

    test::TempDir dir;
    DirectEngineHost loop;
};

TEST_F(Files, RenameNeverReplacesAndMakeOwnerWritableDoesNotFollowLinks)
{
    writeFile(dir.file("a"), "A");
    writeFile(dir.file("b"), "B");
    EXPECT_THROW(fs::renameNoReplace(dir.file("a"), dir.file("b")), Error);
    EXPECT_EQ(readFile(dir.file("a")), "A");
    EXPECT_EQ(readFile(dir.file("b")), "B");
    fs::renameNoReplace(dir.file("a"), dir.file("c"));
    EXPECT_FALSE(test::exists(dir.file("a")));
    EXPECT_EQ(readFile(dir.file("c")), "A");

    // Nor does making a file writable follow a link.
    writeFile(dir.file("target"), "t");
    ASSERT_EQ(::chmod(dir.file("target").constData(), 0444), 0);
    ASSERT_EQ(::symlink(dir.file("target").constData(), dir.file("link").constData()), 0);
    EXPECT_THROW(fs::makeOwnerWritable(dir.file("link")), Error);
    EXPECT_EQ(modeOf("target"), 0444u);
    fs::makeOwnerWritable(dir.file("target"));
    EXPECT_EQ(modeOf("target"), 0644u);
}

TEST_F(Files, AppendOwnedRefusesLinksAndCreatesPrivateFiles)
{
    writeFile(dir.file("victim"), "v");
    ASSERT_EQ(::symlink(dir.file("victim").constData(), dir.file("planted").constData()), 0);
    EXPECT_THROW(fs::File::openAppendOwned(dir.file("planted"), loop), Error);
    EXPECT_EQ(readFile(dir.file("victim")), "v");

    fs::File file = fs::File::openAppendOwned(dir.file("new"), loop);
    file.append("abc", 3);
    file.append("de", 2);
    file.sync();
    file.close();
    EXPECT_EQ(readFile(dir.file("new")), "abcde");
    EXPECT_EQ(modeOf("new"), 0600u);
}

TEST(Paths, JoinAndFolders)
{
    EXPECT_EQ(joinPath("/", "x"), "/x");
    EXPECT_EQ(joinPath("/a", "x"), "/a/x");
    EXPECT_EQ(joinPath("/a/", "x"), "/a/x");
    EXPECT_TRUE(programFolder().startsWith('/'));
    EXPECT_TRUE(test::exists(programFolder() + "/platform_tests"));
}

} // namespace
} // namespace ov
