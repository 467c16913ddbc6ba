#include "wipe/DeletionRun.h"
#include "platform/Error.h"
#include "support/RecordingHost.h"
#include "support/TempDir.h"
#include "wipe/RemoveDuplicates.h"

#include <QRandomGenerator>
#include <QStringList>

#include <gtest/gtest.h>

#include <utility>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

using List = std::vector<QByteArray>;

// The list box's exact search: starts after `start`, wraps, ends at `start` itself; an
// invalid start searches from the first entry; an empty text finds nothing.
int findExact(const List& list, const QByteArray& text, int start)
{
    const int size = int(list.size());
    if (text.isEmpty() || size == 0)
        return -1;
    if (start < 0 || start >= size)
        start = size - 1;
    for (int step = 1; step <= size; ++step) {
        int at = (start + step) % size;
        if (list[size_t(at)] == text)
            return at;
    }
    return -1;
}

// The steps as documented, entry by entry, with no cleverness.
int referenceRemoveDuplicates(List& list)
{
    if (list.size() < 2)
        return 0;
    const int last = int(list.size()) - 1;
    int removed = 0;
    for (int i = 0; i <= last; ++i) {
        for (;;) {
            QByteArray s = i < int(list.size()) ? list[size_t(i)] : QByteArray();
            int b = findExact(list, s, i);
            int e = findExact(list, s, b + 1);
            if (e < 0 || e == b)
                break;
            list.erase(list.begin() + e);
            ++removed;
        }
    }
    return removed;
}

int run(List& list)
{
    test::RecordingHost loop;
    return RemoveDuplicates(list, loop);
}

TEST(RemoveDuplicates, DocumentedExamplesAndExactBytes)
{
    // The list, what is kept, how many go.
    const std::tuple<List, List, int> rows[] = {
        {{"A", "B", "A"}, {"B", "A"}, 1},
        {{"A", "A", "B", "A"}, {"A", "B"}, 2},
        {{"A", "A", "A"}, {"A"}, 2},
        {{"/a.txt", "/b.txt", "/a.txt"}, {"/b.txt", "/a.txt"}, 1},
        // Two files on Linux, both must be destroyed.
        {{"/tmp/a.txt", "/tmp/A.TXT"}, {"/tmp/a.txt", "/tmp/A.TXT"}, 0},
        {{"/tmp/\xff", "/tmp/\xfe", "/tmp/\xff"}, {"/tmp/\xfe", "/tmp/\xff"}, 1},
        {{}, {}, 0},
        {{"only"}, {"only"}, 0},
        // An empty text is never found, so blank entries are never merged.
        {{"", "", "x"}, {"", "", "x"}, 0},
    };
    for (auto [list, kept, removed] : rows) {
        EXPECT_EQ(run(list), removed) << list.size();
        EXPECT_EQ(list, kept);
    }
}

TEST(RemoveDuplicates, AgreesWithTheDocumentedStepsOnRandomLists)
{
    QRandomGenerator random(20261207);
    for (int round = 0; round < 4000; ++round) {
        const int size = int(random.bounded(40));
        const int alphabet = 1 + int(random.bounded(12));
        List list;
        for (int i = 0; i < size; ++i) {
            int pick = int(random.bounded(alphabet + 1));
            list.push_back(pick == alphabet ? QByteArray() : "/dir/f" + QByteArray::number(pick));
        }
        List expected = list;
        ASSERT_EQ(run(list), referenceRemoveDuplicates(expected)) << "round " << round;
        ASSERT_EQ(list, expected) << "round " << round;
    }
}

TEST(RemoveDuplicates, LargeListKeepsOneOfEach)
{
    List list;
    const QByteArray prefix = "/home/user/" + QByteArray(200, 'p') + "/";
    for (int i = 0; i < 32767; ++i)
        list.push_back(prefix + QByteArray::number(i % 16384));
    EXPECT_EQ(run(list), 32767 - 16384);
    ASSERT_EQ(list.size(), 16384u);
    std::sort(list.begin(), list.end());
    EXPECT_EQ(std::unique(list.begin(), list.end()), list.end());
}

// Records what the run shows, the way the window would.
class FakeView : public DeletionView
{
public:
    void setStatus(const QString& text) override { statusHistory.push_back(status = text); }
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
    bool busy = false, timer = false;
    std::vector<QByteArray> items;
    std::vector<Error> errors;
};

class DeletionRunTest : public ::testing::Test
{
protected:
    DeletionRunTest() : log(dir.file("log.txt")), run(view, settings, log, loop) {}

    // The files, made, and the list showing them.
    std::vector<QByteArray> listFiles(std::initializer_list<const char*> names)
    {
        view.items.clear();
        for (const char* name : names) {
            view.items.push_back(dir.file(name));
            writeFile(view.items.back(), "secret data");
        }
        return view.items;
    }
    void expectIdle() const
    {
        EXPECT_FALSE(view.busy);
        EXPECT_FALSE(view.timer);
    }

    test::TempDir dir;
    FakeView view;
    Settings settings;
    OperationLog log;
    test::RecordingHost loop;
    DeletionRun run;
};

TEST_F(DeletionRunTest, WipesEveryEntryAndCounts)
{
    // An empty list changes nothing.
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::NothingToDo);
    EXPECT_TRUE(view.statusHistory.empty());
    EXPECT_EQ(loop.yields, 0);

    const auto files = listFiles({"1", "2", "3", "4", "5"});
    bool busyDuringRun = false, timerDuringRun = false;
    loop.onYield = [&] {
        busyDuringRun |= view.busy;
        timerDuringRun |= view.timer;
    };
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Done);
    for (const QByteArray& file : files)
        EXPECT_FALSE(test::exists(file));
    EXPECT_EQ(QStringList({view.total, view.deleted, view.left}), QStringList({"5", "5", "0"}));
    EXPECT_TRUE(view.items.empty());
    EXPECT_TRUE(busyDuringRun && timerDuringRun);
    expectIdle();
    const std::vector<QString> expected{"Preparing and checking for duplicate entries.",
                                        "0 Duplicate entries found and removed", " Working..",
                                        "Done"};
    EXPECT_EQ(view.statusHistory, expected);
}

TEST_F(DeletionRunTest, DuplicatesGoAndEachLineIsLoggedBeforeItsFileIsTouched)
{
    const auto files = listFiles({"a.txt", "b.txt"});
    const QByteArray a = files[0], b = files[1];
    view.items.push_back(a);
    settings.LogOperations = true;
    bool loggedBeforeTouched = false, firstCall = true;
    loop.onBlocking = [&] {
        // The first blocking call of the wipe opens the file: the line must be there.
        if (std::exchange(firstCall, false))
            loggedBeforeTouched = test::exists(log.path()) && readFile(b) == "secret data";
    };
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Done);
    EXPECT_TRUE(loggedBeforeTouched);
    EXPECT_EQ(view.statusHistory.at(1), "1 Duplicate entries found and removed");
    EXPECT_EQ(view.total, "2");
    EXPECT_FALSE(test::exists(a) || test::exists(b));
    // b, then the later a; no level stored: medium, and the line keeps the level as held.
    const QList<QByteArray> lines = readFile(log.path()).split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].endsWith(b + " Deleted via ratio \r")) << lines[0].constData();
    EXPECT_TRUE(lines[1].endsWith(a + " Deleted via ratio \r")) << lines[1].constData();

    // A line that cannot be written leaves its file untouched.
    const QByteArray kept = listFiles({"kept"})[0];
    OperationLog broken(kept + "/log.txt"); // below a file, not a folder
    DeletionRun failing(view, settings, broken, loop);
    EXPECT_EQ(failing.cmdDelete_Click(), DeletionRun::Outcome::Failed);
    EXPECT_EQ(readFile(kept), "secret data");
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].path(), broken.path());
}

TEST_F(DeletionRunTest, AnUnknownLevelWipesNothingButCountsAndIsReadForEveryEntry)
{
    const auto files = listFiles({"one", "two", "three"});
    settings.SecurityLevel = "4";
    // The level changes (in the options dialog, say) once two files are counted.
    loop.onYield = [&] {
        if (view.deleted == "2")
            settings.SecurityLevel = "1";
    };
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Done);
    EXPECT_EQ(readFile(files[0]), "secret data");
    EXPECT_EQ(readFile(files[1]), "secret data");
    EXPECT_FALSE(test::exists(files[2]));
    EXPECT_EQ(view.deleted, "3");
    EXPECT_TRUE(view.items.empty());
}

TEST_F(DeletionRunTest, AFailureOrAStopEndsTheRunAndKeepsTheRest)
{
    const auto files = listFiles({"first", "missing", "third"});
    ASSERT_EQ(::unlink(files[1].constData()), 0);
    settings.SecurityLevel = "1";
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Failed);
    EXPECT_FALSE(test::exists(files[0]));
    EXPECT_EQ(readFile(files[2]), "secret data");
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].path(), files[1]);
    EXPECT_EQ(view.errors[0].code(), ENOENT);
    EXPECT_EQ(QStringList({view.deleted, view.left}), QStringList({"1", "2"}));
    EXPECT_EQ(view.items, (std::vector<QByteArray>{files[1], files[2]}));
    EXPECT_TRUE(view.status.startsWith("Failed: "));
    EXPECT_TRUE(view.status.contains(QString::fromUtf8(files[1])));
    expectIdle();

    // A stop ends the run after the file in hand.
    const auto stopped = listFiles({"s1", "s2", "s3"});
    loop.onYield = [&] {
        if (!test::exists(stopped[0]))
            run.requestStop();
    };
    EXPECT_EQ(run.cmdDelete_Click(), DeletionRun::Outcome::Stopped);
    EXPECT_FALSE(test::exists(stopped[0]));
    EXPECT_TRUE(test::exists(stopped[1]) && test::exists(stopped[2]));
    EXPECT_EQ(view.items, (std::vector<QByteArray>{stopped[1], stopped[2]}));
    expectIdle();
}

} // namespace
} // namespace ov
