#include "wipe/DeletionRun.h"
#include "platform/Error.h"
#include "support/LoopMount.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"
#include "wipe/RemoveDuplicates.h"

#include <QRandomGenerator>
#include <QStringList>

#include <gtest/gtest.h>

#include <sys/stat.h>
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
    test::RecordingRunner loop;
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
    void setRunning(bool value) override { running = value; }
    void setPending(const std::vector<QByteArray>& value) override { items = value; }
    void reportError(const Error& error) override
    {
        EXPECT_FALSE(running) << "the failure is told once the window is idle again";
        errors.push_back(error);
    }
    // The notice about names the file system keeps depends on where the temporary folder
    // lies: counted apart (the window's test shows it on a volume of each kind).
    void reportNotices(const QStringList& lines) override
    {
        QStringList rest = lines;
        namesNotices += rest.removeAll(namesMayRemainNotice());
        if (!rest.isEmpty())
            notices.push_back(rest);
    }

    QString status = QStringLiteral("Ready...");
    std::vector<QString> statusHistory;
    QString total = QStringLiteral("0"), deleted = QStringLiteral("0"), left = QStringLiteral("0");
    bool running = false;
    std::vector<QByteArray> items;
    std::vector<Error> errors;
    std::vector<QStringList> notices;
    qsizetype namesNotices = 0;
};

class DeletionRunTest : public ::testing::Test
{
protected:
    DeletionRunTest() : log(dir.file("log.txt")), run(view, settings, &log, loop, dir.path()) {}

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
    DeletionRun::Outcome press() { return run.run(view.items); }

    test::TempDir dir;
    FakeView view;
    Settings settings;
    OperationLog log;
    test::RecordingRunner loop;
    DeletionRun run;
};

TEST_F(DeletionRunTest, WipesEveryEntryAndCounts)
{
    // An empty list changes nothing.
    EXPECT_EQ(press(), DeletionRun::Outcome::NothingToDo);
    EXPECT_TRUE(view.statusHistory.empty());
    EXPECT_EQ(loop.yields, 0);

    const auto files = listFiles({"1", "2", "3", "4", "5"});
    bool runningDuringRun = false;
    loop.onYield = [&] { runningDuringRun |= view.running; };
    EXPECT_EQ(press(), DeletionRun::Outcome::Done);
    for (const QByteArray& file : files)
        EXPECT_FALSE(test::exists(file));
    EXPECT_EQ(QStringList({view.total, view.deleted, view.left}), QStringList({"5", "5", "0"}));
    EXPECT_TRUE(view.items.empty());
    EXPECT_TRUE(runningDuringRun);
    EXPECT_FALSE(view.running);
    const std::vector<QString> expected{"Preparing and checking for duplicate entries.",
                                        "0 Duplicate entries found and removed", " Working..",
                                        "Done"};
    EXPECT_EQ(view.statusHistory, expected);
    EXPECT_TRUE(view.notices.empty());
}

TEST_F(DeletionRunTest, DuplicatesGoAndEachLineIsLoggedBeforeItsFileIsTouched)
{
    const auto files = listFiles({"a.txt", "b.txt"});
    const QByteArray a = files[0], b = files[1];
    view.items.push_back(a);
    settings.LogOperations = true;
    bool loggedBeforeTouched = false, firstCall = true;
    loop.onBlocking = [&] {
        // The first blocking call appends the line, the wipe only follows.
        if (std::exchange(firstCall, false))
            loggedBeforeTouched = !test::exists(log.path()) && readFile(b) == "secret data";
    };
    EXPECT_EQ(press(), DeletionRun::Outcome::Done);
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
    DeletionRun failing(view, settings, &broken, loop, dir.path());
    EXPECT_EQ(failing.run(view.items), DeletionRun::Outcome::Failed);
    EXPECT_EQ(readFile(kept), "secret data");
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].path(), broken.path());
}

// The window hands its work to the worker in coarse units: a small file at the least level
// costs one hand-off (its log line and checks); the checks of the whole list and each
// batch pass over all files with its flush are one each.
TEST_F(DeletionRunTest, ASmallFileCostsTheWindowOneHandOff)
{
    settings.SecurityLevel = "1";
    settings.LogOperations = true;
    view.items.clear();
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i) {
        view.items.push_back(dir.file("f" + QByteArray::number(i)));
        writeFile(view.items.back(), "secret data");
    }
    EXPECT_EQ(press(), DeletionRun::Outcome::Done);
    EXPECT_EQ(view.deleted, QString::number(kFiles));
    EXPECT_LE(loop.handOffs, kFiles + 8);
}

// A stored level that names no method would destroy nothing: nothing may then be logged
// or counted as destroyed. The level is read for every entry.
TEST_F(DeletionRunTest, AnUnknownLevelDestroysLogsAndCountsNothing)
{
    const auto files = listFiles({"one", "two", "three"});
    settings.SecurityLevel = "1";
    settings.LogOperations = true;
    // The level changes once the first file is under way (a hand-edited store, say).
    loop.onBlocking = [&] {
        if (test::exists(log.path()))
            settings.SecurityLevel = "least";
    };
    EXPECT_EQ(press(), DeletionRun::Outcome::Failed);
    EXPECT_FALSE(test::exists(files[0]));
    EXPECT_EQ(readFile(files[1]), "secret data");
    EXPECT_EQ(readFile(files[2]), "secret data");
    EXPECT_EQ(view.deleted, "1");
    EXPECT_EQ(view.items, (std::vector<QByteArray>{files[1], files[2]}));
    EXPECT_EQ(readFile(log.path()).count('\n'), 1);
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_TRUE(view.errors[0].message().contains(QStringLiteral("\"least\"")));
}

TEST_F(DeletionRunTest, AFailureOrAStopEndsTheRunAndKeepsTheRest)
{
    // The second file goes once the run is under way (the check before the first byte
    // would refuse the whole list otherwise).
    const auto files = listFiles({"first", "missing", "third"});
    // Once the first is overwritten (its delete waits for the others').
    loop.onYield = [&] {
        if (test::exists(files[1]) &&
            (!test::exists(files[0]) || readFile(files[0]) != "secret data"))
            ::unlink(files[1].constData());
    };
    // File by file (the least level's batch takes the files in hand together).
    settings.SecurityLevel = "3";
    EXPECT_EQ(press(), DeletionRun::Outcome::Failed);
    EXPECT_FALSE(test::exists(files[0]));
    EXPECT_EQ(readFile(files[2]), "secret data");
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].path(), files[1]);
    EXPECT_EQ(view.errors[0].code(), ENOENT);
    EXPECT_EQ(QStringList({view.deleted, view.left}), QStringList({"1", "2"}));
    EXPECT_EQ(view.items, (std::vector<QByteArray>{files[1], files[2]}));
    EXPECT_TRUE(view.status.startsWith("Failed: "));
    EXPECT_TRUE(view.status.contains(QString::fromUtf8(files[1])));
    EXPECT_FALSE(view.running);

    // A stop ends the run after the file in hand, also in the middle of a batch: the files
    // a pass had not begun are left untouched.
    for (const char* level : {"1", "2"}) {
        settings.SecurityLevel = QString::fromLatin1(level);
        const auto stopped = listFiles({"s1", "s2", "s3"});
        loop.onYield = [&] {
            if (!test::exists(stopped[0]) || readFile(stopped[0]) != "secret data")
                run.requestStop();
        };
        EXPECT_EQ(press(), DeletionRun::Outcome::Stopped) << level;
        EXPECT_FALSE(test::exists(stopped[0])) << level;
        EXPECT_EQ(readFile(stopped[1]) + readFile(stopped[2]), "secret datasecret data") << level;
        EXPECT_EQ(view.items, (std::vector<QByteArray>{stopped[1], stopped[2]})) << level;
        EXPECT_EQ(view.status, "Stopped: 1 of 3 files destroyed") << level;
        EXPECT_FALSE(view.running);
    }
}

// A relative entry (from the command line) is destroyed in the folder the program was
// started in, renamed there when scrambling; the entry keeps its text. Files with other
// names are destroyed for every name, and the user is told which.
TEST_F(DeletionRunTest, RelativeEntriesAndFilesWithOtherNames)
{
    settings.ScrambleNames = true;
    for (const char* level : {"1", "3"}) {
        settings.SecurityLevel = QString::fromLatin1(level);
        writeFile(dir.file("bare.txt"), "secret data");
        view.items = {"bare.txt"};
        EXPECT_EQ(press(), DeletionRun::Outcome::Done) << level;
        EXPECT_FALSE(test::exists(dir.file("bare.txt")) || test::exists(dir.file("ovlxx.ovl")));
        EXPECT_TRUE(view.errors.empty());
    }

    settings.SecurityLevel = "1";
    const auto files = listFiles({"linked", "alone"});
    ASSERT_EQ(::link(files[0].constData(), dir.file("second name").constData()), 0);
    ASSERT_EQ(::link(files[0].constData(), dir.file("third").constData()), 0);
    EXPECT_EQ(press(), DeletionRun::Outcome::Done);
    EXPECT_EQ(readFile(dir.file("second name")), QByteArray(11, '\0'));
    ASSERT_EQ(view.notices.size(), 1u);
    EXPECT_EQ(view.notices[0], QStringList{otherNamesNotice(files[0], 2)});
    EXPECT_EQ(otherNamesNotice("/d/a b", 1),
              QStringLiteral("'/d/a b': 1 other name still points at the overwritten contents"));
}

// A file whose old data survives the wipe (btrfs writes elsewhere) is deleted as asked,
// but the user is told, and the log records it as not destroyed; so does a file whose
// wipe failed after its line was written.
TEST_F(DeletionRunTest, WhatSurvivesIsToldAndLogged)
{
    QString why;
    auto btrfs = test::LoopMount::create(QStringLiteral("btrfs"), 256 << 20, &why);
    if (!btrfs)
        GTEST_SKIP() << why.toStdString();
    const QByteArray moved = btrfs->mountPoint() + "/moved";
    writeFile(moved, QByteArray(256 << 10, 'm'));
    const auto files = listFiles({"plain", "missing"});
    view.items = {files[0], moved, files[1]};
    loop.onBlocking = [&] { // the last file goes once the run is under way
        if (!test::exists(moved) && test::exists(files[1]))
            ::unlink(files[1].constData());
    };
    settings.SecurityLevel = "1";
    settings.LogOperations = true;
    EXPECT_EQ(press(), DeletionRun::Outcome::Failed);
    EXPECT_FALSE(test::exists(files[0]) || test::exists(moved));
    EXPECT_EQ(view.deleted, "2") << "the counters count what was deleted";
    ASSERT_EQ(view.notices.size(), 1u);
    const QStringList& lines = view.notices[0];
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Deleted, but the old data is still on the device:");
    EXPECT_TRUE(lines[1].startsWith(QString::fromUtf8(moved) +
                                    ": not reached (moved), file system layer: btrfs"))
        << lines[1].toStdString();
    // Each file's first line before it is touched, in list order; a second line for each
    // that survived, after its first.
    const QByteArray text = readFile(this->log.path());
    const QList<QByteArray> log = text.split('\n');
    ASSERT_EQ(log.size(), 6) << text.constData();
    EXPECT_TRUE(log[0].endsWith(files[0] + " Deleted via ratio 1\r"));
    EXPECT_TRUE(log[1].endsWith(moved + " Deleted via ratio 1\r"));
    EXPECT_TRUE(log[2].endsWith(dir.file("missing") + " Deleted via ratio 1\r"));
    const auto at = [&](const QByteArray& line) {
        return std::find_if(log.begin(), log.end(),
                            [&](const QByteArray& l) { return l.contains(line); }) -
               log.begin();
    };
    EXPECT_GT(at(moved + " NOT destroyed: not reached (moved)"), 1) << text.constData();
    EXPECT_GT(at(dir.file("missing") + " NOT destroyed: No such file or directory\r"), 2)
        << text.constData();
}

// Each file's delete flushed on its own commits the folder's block to the journal again,
// with the names still to go: a run of several files leaves each name no more often than
// a batch flushed once does, at every level and scrambled or not.
TEST_F(DeletionRunTest, EachNameLeavesNoMoreCopiesThanOneFlush)
{
    const QByteArray names[] = {"quixotic-alpha.pdf", "quixotic-bravo.pdf", "quixotic-charlie.pdf",
                                "quixotic-delta.pdf"};
    // Copies of each name in the raw image after a run at the level.
    auto copiesAfter = [&](const char* level, bool scramble, QString* why) {
        std::vector<long long> copies;
        auto volume = test::LoopMount::create(QStringLiteral("ext4"), 64 << 20, why);
        if (!volume)
            return copies;
        const QByteArray folder = volume->mountPoint() + "/folder";
        EXPECT_EQ(::mkdir(folder.constData(), 0700), 0);
        view.items.clear();
        for (const QByteArray& name : names) {
            view.items.push_back(folder + "/" + name);
            writeFile(view.items.back(), QByteArray(20000, 's'));
        }
        // On the disk before the run, as a user's files are.
        EXPECT_TRUE(volume->unmount() && volume->remount());
        settings.SecurityLevel = level;
        settings.ScrambleNames = scramble;
        EXPECT_EQ(press(), DeletionRun::Outcome::Done) << level;
        EXPECT_TRUE(volume->unmount());
        for (const QByteArray& name : names)
            copies.push_back(test::countOccurrences(volume->imagePath(), name));
        return copies;
    };
    QString why;
    const std::vector<long long> oneFlush = copiesAfter("1", false, &why);
    if (oneFlush.empty())
        GTEST_SKIP() << why.toStdString();
    for (const auto& [level, scramble] : {std::pair{"2", false}, {"3", false}, {"3", true}}) {
        const std::vector<long long> copies = copiesAfter(level, scramble, &why);
        ASSERT_EQ(copies.size(), oneFlush.size()) << why.toStdString();
        for (size_t i = 0; i < copies.size(); ++i)
            EXPECT_LE(copies[i], oneFlush[i]) << "level " << level << (scramble ? " scrambled" : "")
                                              << ", " << names[i].constData();
    }
}

} // namespace
} // namespace ov
