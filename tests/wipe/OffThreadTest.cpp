// The window never waits on the disk: every call of a deletion run that reaches the file
// system is made while the interface thread goes on serving its events. The file system
// here is a watched FUSE view (see support/fuse/TestFs.cpp): each call it receives waits
// until the interface thread has served two timer ticks, and counts a stall when they do
// not come, which is what happens when the interface thread itself made the call.

#include "platform/BlockingRunner.h"
#include "platform/Error.h"
#include "support/FuseMount.h"
#include "support/TempDir.h"
#include "wipe/DeletionRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

namespace ov {
namespace {

class QuietView : public DeletionView
{
public:
    void setStatus(const QString& text) override { status = text; }
    void setTotalFiles(const QString&) override {}
    void setFilesDeleted(const QString&) override {}
    void setFilesLeft(const QString&) override {}
    void setRunning(bool) override {}
    void setPending(const std::vector<QByteArray>&) override {}
    void reportError(const Error& error) override { errors << error.text(); }
    void reportNotices(const QStringList& lines) override { notices << lines; }

    QString status;
    QStringList errors;
    QStringList notices;
};

TEST(OffThread, EveryDiskCallOfADeletionRunLeavesTheInterfaceThreadFree)
{
    static int argc = 1;
    static char name[] = "wipe_runner_tests";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    test::TempDir source;
    QString why;
    auto view = test::FuseMount::passthrough(source.path(), 0, true, &why);
    if (!view)
        GTEST_SKIP() << why.toStdString();
    test::WatchBoard& board = *view->board();
    const QByteArray folder = view->mountPoint();

    WorkerThreadRunner runner;
    Settings settings;
    settings.LogOperations = true;
    settings.ScrambleNames = true;
    const OperationLog log(folder + "/log.txt");
    QuietView quiet;
    DeletionRun run(quiet, settings, &log, runner, folder);

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++board.ticks; });
    tick.start(1);
    for (const char* level : {"1", "2", "3"}) {
        settings.SecurityLevel = QString::fromLatin1(level);
        const QByteArray a = folder + "/a-" + level, b = "b-" + QByteArray(level);
        test::writeFile(a, QByteArray(5000, 'a'));
        test::writeFile(folder + "/" + b, QByteArray(300, 'b'));
        ASSERT_EQ(::link(a.constData(), (folder + "/other-name-" + level).constData()), 0);
        board.armed = 1;
        // A relative entry too: it is taken from the start folder, the watched one.
        EXPECT_EQ(run.run({a, b}), DeletionRun::Outcome::Done) << quiet.status.toStdString();
        board.armed = 0;
        EXPECT_FALSE(test::exists(a) || test::exists(folder + "/" + b)) << level;
    }
    tick.stop();
    EXPECT_EQ(board.stalls.load(), 0u) << "first stalled call: " << board.firstStall;
    // FUSE keeps a deleted file that is still open under a hidden name: nothing of the
    // delete may stay behind that way.
    EXPECT_EQ(QDir(QString::fromUtf8(folder))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)
                  .join(QLatin1Char(' '))
                  .toStdString(),
              "log.txt other-name-1 other-name-2 other-name-3");
    EXPECT_TRUE(quiet.errors.isEmpty()) << quiet.errors.join('\n').toStdString();
    EXPECT_EQ(quiet.notices.size(), 3);
}

// Whether a descriptor of this process still holds the deleted file that was `path` (in
// its folder, or in a folder made there for the delete).
bool holdsDeleted(const QByteArray& path)
{
    const QByteArray folder = path.left(path.lastIndexOf('/') + 1);
    const QByteArray deleted = path.mid(folder.size()) + " (deleted)";
    for (int fd = 0; fd < 1024; ++fd) {
        char target[4096];
        const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
        const ssize_t n = ::readlink(link.constData(), target, sizeof target);
        const QByteArray held(target, n > 0 ? n : 0);
        if (held.startsWith(folder) && held.endsWith('/' + deleted))
            return true;
    }
    return false;
}

// Letting go of a deleted file frees its blocks, which takes long on a disk that discards
// them: the last descriptor of a destroyed file is closed inside a blocking call.
TEST(OffThread, TheLastHoldOfADestroyedFileEndsOffTheInterfaceThread)
{
    struct Host : InPlaceRunner
    {
        QByteArray watched;
        bool held = false, letGoOffThread = false;
        void runBlocking(const std::function<void()>& call) override
        {
            const bool before = holdsDeleted(watched);
            call();
            held = holdsDeleted(watched);
            letGoOffThread = letGoOffThread || (before && !held);
        }
    };
    test::TempDir dir;
    Host runner;
    Settings settings;
    QuietView quiet;
    const OperationLog log(dir.file("log.txt"));
    DeletionRun run(quiet, settings, &log, runner, dir.path());
    for (const char* level : {"1", "2", "3"}) {
        settings.SecurityLevel = QString::fromLatin1(level);
        runner.watched = dir.file(QByteArray("victim-") + level);
        runner.letGoOffThread = false;
        test::writeFile(runner.watched, QByteArray(3000, 'v'));
        EXPECT_EQ(run.run({runner.watched}), DeletionRun::Outcome::Done) << level;
        EXPECT_FALSE(test::exists(runner.watched)) << level;
        EXPECT_TRUE(runner.letGoOffThread) << level;
        EXPECT_FALSE(holdsDeleted(runner.watched)) << level;
    }
}

} // namespace
} // namespace ov
