#include "wipe/DeletionRun.h"
#include "platform/Error.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

// Records what the run shows, the way the window would.
class FakeView : public DeletionView
{
public:
    void setStatus(const QString& text) override
    {
        status = text;
        statusHistory.push_back(text);
    }
    void setTotalFiles(const QString& text) override { total = text; }
    void setFilesDeleted(const QString& text) override { deleted = text; }
    void setFilesLeft(const QString& text) override { left = text; }
    void setBusy(bool value) override { busy = value; }
    void setTimerRunning(bool value) override { timer = value; }
    int count() const override { return int(items.size()); }
    QByteArray item(int index) const override { return items.at(size_t(index)); }
    void setItems(const std::vector<QByteArray>& value) override { items = value; }
    void clear() override { items.clear(); }
    void reportError(const Error& error) override { errors.push_back(error); }

    QString status = QStringLiteral("Ready...");
    std::vector<QString> statusHistory;
    QString total = QStringLiteral("0"), deleted = QStringLiteral("0"), left = QStringLiteral("0");
    bool busy = false;
    bool timer = false;
    std::vector<QByteArray> items;
    std::vector<Error> errors;
};

class DeletionRunTest : public ::testing::Test
{
protected:
    DeletionRunTest() : log(dir.file("log.txt")), run(view, settings, log, loop) {}

    QByteArray makeFile(const char* name, const QByteArray& content = "secret data")
    {
        QByteArray path = dir.file(name);
        writeFile(path, content);
        return path;
    }
    QList<QByteArray> logLines() const
    {
        if (!test::exists(log.path()))
            return {};
        QList<QByteArray> lines = readFile(log.path()).split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }

    test::TempDir dir;
    FakeView view;
    Settings settings;
    OperationLog log;
    test::RecordingLoop loop;
    DeletionRun run;
};

TEST_F(DeletionRunTest, AnEmptyListChangesNothing)
{
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::NothingToDo);
    EXPECT_EQ(view.status, "Ready...");
    EXPECT_TRUE(view.statusHistory.empty());
    EXPECT_FALSE(view.busy);
    EXPECT_FALSE(view.timer);
    EXPECT_EQ(loop.yields, 0);
}

TEST_F(DeletionRunTest, WipesEveryEntryAndCounts)
{
    for (const char* name : {"1", "2", "3", "4", "5"})
        view.items.push_back(makeFile(name));
    bool busyDuringRun = false, timerDuringRun = false;
    loop.onYield = [&] {
        busyDuringRun |= view.busy;
        timerDuringRun |= view.timer;
    };
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Done);
    for (const char* name : {"1", "2", "3", "4", "5"})
        EXPECT_FALSE(test::exists(dir.file(name)));
    EXPECT_EQ(view.total, "5");
    EXPECT_EQ(view.deleted, "5");
    EXPECT_EQ(view.left, "0");
    EXPECT_EQ(view.status, "Done");
    EXPECT_TRUE(view.items.empty());
    EXPECT_TRUE(busyDuringRun && timerDuringRun);
    EXPECT_FALSE(view.busy);
    EXPECT_FALSE(view.timer);
    const std::vector<QString> expected{"Preparing and checking for duplicate entries.",
                                        "0 Duplicate entries found and removed", " Working..",
                                        "Done"};
    EXPECT_EQ(view.statusHistory, expected);
}

TEST_F(DeletionRunTest, DuplicatesAreRemovedAndWipedOnce)
{
    const QByteArray a = makeFile("a.txt"), b = makeFile("b.txt");
    view.items = {a, b, a};
    settings.LogOperations = true;
    settings.SecurityLevel = QStringLiteral("1");
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Done);
    EXPECT_EQ(view.statusHistory.at(1), "1 Duplicate entries found and removed");
    EXPECT_EQ(view.total, "2");
    // The survivors in their order: b, then the later a.
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(b + " Deleted via ratio 1\r"));
    EXPECT_TRUE(lines[1].endsWith(a + " Deleted via ratio 1\r"));
}

TEST_F(DeletionRunTest, LogLineComesFirstAndCarriesTheLevelAsHeld)
{
    const QByteArray path = makeFile("x.txt");
    view.items = {path};
    settings.LogOperations = true;
    bool loggedBeforeTouched = false;
    bool firstCall = true;
    loop.onBlocking = [&] {
        // The first blocking call of the wipe opens the file: the line must be there.
        if (firstCall)
            loggedBeforeTouched = test::exists(log.path()) && readFile(path) == "secret data";
        firstCall = false;
    };
    run.cmdDelete_Click();
    EXPECT_TRUE(loggedBeforeTouched);
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    // No level stored: the medium method, and the line ends in "ratio ".
    EXPECT_TRUE(lines[0].endsWith(path + " Deleted via ratio \r")) << lines[0].constData();
    EXPECT_FALSE(test::exists(path));
}

TEST_F(DeletionRunTest, AnUnknownLevelWipesNothingButCounts)
{
    const QByteArray p1 = makeFile("keep1"), p2 = makeFile("keep2");
    view.items = {p1, p2};
    settings.SecurityLevel = QStringLiteral("4");
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Done);
    EXPECT_EQ(readFile(p1), "secret data");
    EXPECT_EQ(readFile(p2), "secret data");
    EXPECT_EQ(view.deleted, "2");
    EXPECT_TRUE(view.items.empty());
}

TEST_F(DeletionRunTest, AFailureEndsTheRunAndKeepsTheRest)
{
    const QByteArray first = makeFile("first");
    const QByteArray missing = dir.file("missing");
    const QByteArray third = makeFile("third");
    view.items = {first, missing, third};
    settings.SecurityLevel = QStringLiteral("1");
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Failed);
    EXPECT_FALSE(test::exists(first));
    EXPECT_EQ(readFile(third), "secret data");
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].path(), missing);
    EXPECT_EQ(view.errors[0].code(), ENOENT);
    EXPECT_EQ(view.deleted, "1");
    EXPECT_EQ(view.left, "2");
    EXPECT_EQ(view.items, (std::vector<QByteArray>{missing, third}));
    EXPECT_TRUE(view.status.startsWith("Failed: "));
    EXPECT_TRUE(view.status.contains(QString::fromUtf8(missing)));
    EXPECT_FALSE(view.busy);
    EXPECT_FALSE(view.timer);
}

TEST_F(DeletionRunTest, AnUnwritableLogLeavesTheFileUntouched)
{
    const QByteArray path = makeFile("kept");
    view.items = {path};
    settings.LogOperations = true;
    OperationLog broken(dir.file("no-such-folder-file") + "/log.txt");
    writeFile(dir.file("no-such-folder-file"), "a file where a folder should be");
    DeletionRun failing(view, settings, broken, loop);
    EXPECT_EQ(failing.cmdDelete_Click(), DeletionRun::Outcome::Failed);
    EXPECT_EQ(readFile(path), "secret data");
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].path(), broken.path());
}

TEST_F(DeletionRunTest, SettingsAreReadForEveryEntry)
{
    const QByteArray p1 = makeFile("one"), p2 = makeFile("two");
    view.items = {p1, p2};
    settings.SecurityLevel = QStringLiteral("4");
    // The level changes (in the options dialog, say) once the first file is counted.
    loop.onYield = [&] {
        if (view.deleted == "1")
            settings.SecurityLevel = QStringLiteral("1");
    };
    run.cmdDelete_Click();
    EXPECT_EQ(readFile(p1), "secret data");
    EXPECT_FALSE(test::exists(p2));
}

TEST_F(DeletionRunTest, StopEndsAfterTheFileInHand)
{
    const QByteArray p1 = makeFile("s1"), p2 = makeFile("s2"), p3 = makeFile("s3");
    view.items = {p1, p2, p3};
    loop.onYield = [&] {
        if (!test::exists(p1))
            run.requestStop();
    };
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Stopped);
    EXPECT_FALSE(test::exists(p1));
    EXPECT_TRUE(test::exists(p2));
    EXPECT_TRUE(test::exists(p3));
    EXPECT_EQ(view.items, (std::vector<QByteArray>{p2, p3}));
    EXPECT_FALSE(view.busy);
    EXPECT_FALSE(view.timer);
}

} // namespace
} // namespace ov
