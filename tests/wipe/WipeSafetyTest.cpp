// The named file and nothing else: whatever changes around a wipe while it works, it
// never writes to or deletes another file, and it never calls a file destroyed that it
// did not destroy. The world is changed from the wipe's own yields and blocking calls.

#include "platform/Error.h"
#include "support/LoopMount.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"
#include "support/Tmpfs.h"
#include "wipe/WipeMethods.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <dirent.h>
#include <limits>

#include <fcntl.h>
#include <functional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ov {
namespace {

using test::exists;
using test::readFile;
using test::writeFile;

const QByteArray kOriginal = QByteArray("the named file's own secret bytes ").repeated(150);
const QByteArray kOther = "another file, which must survive byte for byte";

struct Level
{
    const char* name;
    WipeLevel level;
};
const Level kLevels[] = {
    {"least", WipeLevel::Least}, {"medium", WipeLevel::Medium}, {"high", WipeLevel::High}};

std::string levelName(const ::testing::TestParamInfo<Level>& info)
{
    return info.param.name;
}

class Wipe : public ::testing::TestWithParam<Level>
{
protected:
    Wipe()
    {
        mkdir("a");
        mkdir("b");
        writeFile(victim, kOriginal);
        writeFile(dir.file("b/victim"), kOther);
        writeFile(dir.file("other"), kOther);
    }
    void mkdir(const char* name) { ASSERT_EQ(::mkdir(dir.file(name).constData(), 0755), 0); }

    WipeOutcome wipe(const QByteArray& path) { return wipeAtLevel(path, GetParam().level, env); }

    // The wipe must fail with `message` about `path`; returns whether it did.
    void expectFailure(const QByteArray& path, const QString& message)
    {
        try {
            (void)wipe(path);
            ADD_FAILURE() << GetParam().name << ": the wipe reported success";
        } catch (const Error& error) {
            EXPECT_EQ(error.message(), message) << error.text().toStdString();
            EXPECT_EQ(error.path(), path);
        }
    }

    // Runs `change` once, at the first yield after the wipe has written to the victim;
    // `afterChange` at every yield after that.
    void changeOnceWritten(std::function<void()> change)
    {
        afterChange = nullptr;
        runner.onYield = [this, change] {
            if (changed) {
                if (afterChange)
                    afterChange();
            } else if (exists(victim) && readFile(victim) != kOriginal) {
                changed = true;
                change();
            }
        };
    }

    test::TempDir dir;
    const QByteArray victim = dir.file("a/victim");
    test::RecordingRunner runner;
    Settings settings;
    StopChannel stop;
    WipeEnv env{runner, settings, stop, dir.path()};
    bool changed = false;
    std::function<void()> afterChange;
};

const QString kReplaced = QStringLiteral("The file was replaced while it was being destroyed");

// The folder on the path becomes a link to another folder holding a file of the same
// name, once moved away and once deleted: that file is never written or deleted.
TEST_P(Wipe, AFolderSwappedForALinkLeadsNowhereElse)
{
    for (bool moveAway : {true, false}) {
        SCOPED_TRACE(moveAway ? "moved away" : "deleted");
        changed = false;
        writeFile(victim, kOriginal);
        QByteArray atSwap;
        int writtenAfterSwap = 0;
        changeOnceWritten([&] {
            atSwap = readFile(victim);
            afterChange = [&] {
                if (moveAway && readFile(dir.file("a.old/victim")) != atSwap)
                    ++writtenAfterSwap;
            };
            if (moveAway)
                ASSERT_EQ(::rename(dir.file("a").constData(), dir.file("a.old").constData()), 0);
            else
                QDir(QString::fromUtf8(dir.file("a"))).removeRecursively();
            ASSERT_EQ(::symlink(dir.file("b").constData(), dir.file("a").constData()), 0);
        });
        expectFailure(victim, kReplaced);
        EXPECT_TRUE(changed);
        EXPECT_EQ(readFile(dir.file("b/victim")), kOther);
        EXPECT_EQ(writtenAfterSwap, 0);
        if (moveAway) {
            EXPECT_EQ(readFile(dir.file("a.old/victim")), atSwap) << "written after the swap";
        }
        ::unlink(dir.file("a").constData());
        if (moveAway)
            ASSERT_EQ(::rename(dir.file("a.old").constData(), dir.file("a").constData()), 0);
        else
            mkdir("a");
    }
}

// The name is given to another file: by a rename over it, as a hard link to it, or as a
// symbolic link to it. That file stays byte for byte.
TEST_P(Wipe, ANameGivenToAnotherFileReachesNothingElse)
{
    const std::pair<const char*, std::function<void()>> swaps[] = {
        {"renamed over",
         [&] {
             writeFile(dir.file("copy"), kOther);
             ASSERT_EQ(::rename(dir.file("copy").constData(), victim.constData()), 0);
         }},
        {"hard link",
         [&] {
             ASSERT_EQ(::unlink(victim.constData()), 0);
             ASSERT_EQ(::link(dir.file("other").constData(), victim.constData()), 0);
         }},
        {"symbolic link",
         [&] {
             ASSERT_EQ(::unlink(victim.constData()), 0);
             ASSERT_EQ(::symlink(dir.file("other").constData(), victim.constData()), 0);
         }},
    };
    for (const auto& [what, swap] : swaps) {
        SCOPED_TRACE(what);
        changed = false;
        ::unlink(victim.constData());
        writeFile(victim, kOriginal);
        changeOnceWritten(swap);
        expectFailure(victim, kReplaced);
        EXPECT_TRUE(changed);
        EXPECT_EQ(readFile(dir.file("other")), kOther);
        if (QByteArray(what) != "symbolic link") {
            EXPECT_EQ(readFile(victim), kOther) << "the other file keeps the name, untouched";
        }
    }
}

// When an inode's name or links last changed: a rename of it shows here.
timespec changeTime(const QByteArray& path)
{
    struct stat st = {};
    ::lstat(path.constData(), &st);
    return st.st_ctim;
}

bool operator==(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The swap comes at the very end, just before the rename or the delete (the last yield),
// or while the rename is under way (between the look at the name and the rename): the
// other file is never deleted, and keeps its name.
TEST_P(Wipe, ANameSwappedBeforeTheRenameOrDeleteIsLeftAlone)
{
    timespec swapped = {};
    auto swapIn = [&] {
        ASSERT_EQ(::rename(victim.constData(), dir.file("a/moved").constData()), 0);
        ASSERT_EQ(::link(dir.file("other").constData(), victim.constData()), 0);
        swapped = changeTime(dir.file("other"));
    };
    for (bool scramble : {false, true}) {
        for (bool duringRename : {false, true}) {
            if (duringRename && (!scramble || GetParam().level == WipeLevel::Medium))
                continue; // no rename
            SCOPED_TRACE(scramble ? (duringRename ? "during the rename" : "scrambled") : "plain");
            settings.ScrambleNames = scramble;
            // A first wipe finds the last yield, and the blocking call that renames.
            runner.onYield = nullptr;
            runner.yields = runner.blockingCalls = 0;
            int renameCall = 0;
            runner.onBlocking = [&] {
                if (!renameCall && exists(dir.file("a/ovlxx.ovl")))
                    renameCall = runner.blockingCalls - 1;
            };
            (void)wipe(victim);
            const int lastYield = runner.yields;
            writeFile(victim, kOriginal);
            runner.yields = runner.blockingCalls = 0;
            runner.onYield = [&] {
                if (!duringRename && runner.yields == lastYield)
                    swapIn();
            };
            runner.onBlocking = [&] {
                if (duringRename && runner.blockingCalls == renameCall)
                    swapIn();
            };
            expectFailure(victim, kReplaced);
            runner.onBlocking = nullptr;
            EXPECT_EQ(readFile(victim), kOther);
            EXPECT_EQ(readFile(dir.file("other")), kOther);
            EXPECT_FALSE(exists(dir.file("a/ovlxx.ovl")));
            if (!duringRename) {
                EXPECT_TRUE(changeTime(dir.file("other")) == swapped) << "renamed meanwhile";
            }
            ::unlink(victim.constData());
            ::unlink(dir.file("a/moved").constData());
            writeFile(victim, kOriginal);
        }
    }
}

// A file that grows or shrinks under the wipe is overwritten to its new length and
// flushed, but not called destroyed (nor deleted).
TEST_P(Wipe, AFileThatChangesIsNeverCalledDestroyed)
{
    const QByteArray appended = "APPENDED-BY-SOMEONE-ELSE";
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"appended",
         [&] {
             const int fd = ::open(victim.constData(), O_WRONLY | O_APPEND);
             ASSERT_EQ(::write(fd, appended.constData(), size_t(appended.size())), appended.size());
             ::close(fd);
         }},
        {"truncated", [&] { ASSERT_EQ(::truncate(victim.constData(), 10), 0); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        changed = false;
        writeFile(victim, kOriginal);
        changeOnceWritten(change);
        expectFailure(victim, QStringLiteral("The file changed while it was being destroyed"));
        ASSERT_TRUE(exists(victim));
        const QByteArray left = readFile(victim);
        EXPECT_FALSE(left.contains(appended));
        EXPECT_FALSE(left.contains("secret"));
    }
}

// Nothing is written when something that would make the wipe fail can be known first.
TEST_P(Wipe, WhatWouldFailIsFoundBeforeTheFirstByte)
{
    // A NUL in the name (a dropped address with %00): never the shorter name.
    for (const QByteArray& withNul :
         {victim + QByteArray("\0.bak", 5), dir.file("a") + QByteArray("\0/x/victim", 10)}) {
        try {
            (void)wipe(withNul);
            ADD_FAILURE() << "a name with a NUL was taken";
        } catch (const Error& error) {
            EXPECT_TRUE(error.message().contains(QStringLiteral("NUL")))
                << error.text().toStdString();
            EXPECT_EQ(error.path(), withNul);
        }
    }
    EXPECT_EQ(readFile(victim), kOriginal);

    // The kernel's files are no stored data; a writable one stays untouched.
    const QByteArray comm = "/proc/self/comm";
    const QByteArray name = readFile(comm);
    try {
        (void)wipe(comm);
        ADD_FAILURE() << "a /proc file was wiped";
    } catch (const Error& error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("proc"))) << error.text().toStdString();
    }
    EXPECT_EQ(readFile(comm), name);

    // A folder whose names cannot change: the file could be overwritten but never
    // deleted afterwards.
    test::Immutable frozen(dir.file("a"));
    if (frozen.ok()) {
        EXPECT_THROW((void)wipe(victim), Error);
        EXPECT_EQ(readFile(victim), kOriginal);
    }
}

// Past what the method's rounding can hold: refused, never an overflow.
TEST_P(Wipe, ALengthWithoutRoomForTheRoundingIsTooLarge)
{
    test::Tmpfs big(64 << 20);
    const QByteArray where = big.mounted() ? big.mountPoint() : QByteArray("/dev/shm");
    if (::access(where.constData(), W_OK) != 0)
        GTEST_SKIP() << "no tmpfs to make a huge sparse file on";
    test::TempDir tmp(where);
    const QByteArray huge = tmp.file("huge");
    writeFile(huge, "data");
    ASSERT_EQ(::truncate(huge.constData(), std::numeric_limits<off_t>::max() - 3), 0);
    if (GetParam().level == WipeLevel::Least) {
        // Nothing to round: the data is overwritten and the holes stay holes.
        (void)wipe(huge);
        EXPECT_FALSE(exists(huge));
        return;
    }
    try {
        (void)wipe(huge);
        ADD_FAILURE() << "no refusal";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), EFBIG);
    }
    QFile file(QString::fromUtf8(huge));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(4), "data");
}

// The holes of a sparse file hold none of its data: only the data is overwritten, so a
// small volume holds a huge sparse file's wipe, at every level.
TEST_P(Wipe, SparseFilesAreWipedWhereTheyHoldData)
{
    test::Tmpfs small(16 << 20);
    if (!small.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QByteArray sparse = small.mountPoint() + "/sparse";
    const qint64 length = qint64(8) << 30;
    writeFile(sparse, kOriginal);
    {
        const int fd = ::open(sparse.constData(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, kOriginal.constData(), size_t(kOriginal.size()), length / 2),
                  kOriginal.size());
        ASSERT_EQ(::ftruncate(fd, length), 0);
        ::close(fd);
    }
    blkcnt_t mostBlocks = 0;
    runner.onYield = [&] {
        struct stat st = {};
        if (::stat(sparse.constData(), &st) == 0)
            mostBlocks = std::max(mostBlocks, st.st_blocks);
        if (st.st_blocks > 0 && st.st_size >= length && changed == false) {
            // Both stretches of data are overwritten by the first pass that reaches them.
            const int fd = ::open(sparse.constData(), O_RDONLY);
            QByteArray middle(kOriginal.size(), '\0');
            ASSERT_EQ(::pread(fd, middle.data(), size_t(middle.size()), length / 2), middle.size());
            ::close(fd);
            changed = !middle.contains("secret");
        }
    };
    (void)wipe(sparse);
    EXPECT_TRUE(changed);
    EXPECT_FALSE(exists(sparse));
    EXPECT_LT(mostBlocks * 512, 1 << 20) << "holes were filled";
}

// A read-only file keeps its mode whatever happens: the least and high levels refuse it
// before the first byte; the medium level gives it to its owner for writing and, when the
// wipe fails afterwards, gives it its mode back.
TEST_P(Wipe, AReadOnlyFileKeepsItsModeWhenTheWipeFails)
{
    ASSERT_EQ(::chmod(victim.constData(), 0444), 0);
    changeOnceWritten([&] {
        ASSERT_EQ(::rename(victim.constData(), dir.file("a/kept").constData()), 0);
        writeFile(victim, kOther);
    });
    const bool medium = GetParam().level == WipeLevel::Medium;
    expectFailure(victim, medium ? kReplaced : QStringLiteral("The file is read-only"));
    struct stat st = {};
    ASSERT_EQ(::stat(dir.file(medium ? "a/kept" : "a/victim").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

// The permission change matters where permissions are enforced: a user who is not root
// (a child process that gives up root) destroys a read-only file of its own at the medium
// level, and is refused at the others.
TEST_P(Wipe, AReadOnlyFileOfAnOrdinaryUser)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "needs root to become another user";
    const uid_t nobody = 65534;
    ASSERT_EQ(::chown(dir.path().constData(), nobody, nobody), 0);
    ASSERT_EQ(::chown(dir.file("a").constData(), nobody, nobody), 0);
    ASSERT_EQ(::chown(victim.constData(), nobody, nobody), 0);
    ASSERT_EQ(::chmod(victim.constData(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().constData(), 0755), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(nobody, nobody, nobody) != 0 || ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(3);
        test::RecordingRunner childRunner;
        const WipeEnv childEnv{childRunner, settings, stop, {}};
        try {
            (void)wipeAtLevel(victim, GetParam().level, childEnv);
            ::_exit(0);
        } catch (const Error& error) {
            ::_exit(error.code() == EACCES ? 1 : 2);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (GetParam().level == WipeLevel::Medium) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_FALSE(exists(victim));
    } else {
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(readFile(victim), kOriginal);
    }
}

// A file with other names: its contents are destroyed for every name, and it says how
// many names are left pointing at them.
TEST_P(Wipe, OtherNamesAreCounted)
{
    ASSERT_EQ(::link(victim.constData(), dir.file("b/second").constData()), 0);
    const WipeOutcome outcome = wipe(victim);
    EXPECT_EQ(outcome.otherNames, 1u);
    EXPECT_FALSE(readFile(dir.file("b/second")).contains("secret"));
    writeFile(victim, kOriginal);
    EXPECT_EQ(wipe(victim).otherNames, 0u);
}

// A walk through a tree holds each folder and wipes by name in it: a folder swapped for a
// link to another one meanwhile leads nowhere else.
TEST_P(Wipe, AFileOfAHeldFolder)
{
    const fs::Folder top = fs::Folder::open(dir.path(), runner);
    const fs::Folder held = top.openFolder("a");
    EXPECT_THROW(top.openFolder("no-such"), Error);
    (void)wipeInFolder(held, "victim", GetParam().level, env);
    EXPECT_FALSE(exists(victim));
    writeFile(victim, kOriginal);
    ASSERT_EQ(::rename(dir.file("a").constData(), dir.file("a.old").constData()), 0);
    ASSERT_EQ(::symlink(dir.file("b").constData(), dir.file("a").constData()), 0);
    EXPECT_THROW((void)wipeInFolder(held, "victim", GetParam().level, env), Error);
    EXPECT_EQ(readFile(dir.file("b/victim")), kOther);
    EXPECT_EQ(readFile(dir.file("a.old/victim")), kOriginal) << "nothing written";
}

INSTANTIATE_TEST_SUITE_P(AllLevels, Wipe, ::testing::ValuesIn(kLevels), levelName);

// The name becomes a link to another file between the look at it and the open: the other
// file is not even opened (opening a device or a FIFO can act by itself, written or not).
TEST(WipeOpen, ALinkSlippedInBeforeTheOpenIsNeverFollowed)
{
    test::TempDir dir;
    const QByteArray victim = dir.file("victim"), other = dir.file("other");
    writeFile(victim, kOriginal);
    writeFile(other, kOther);
    test::RecordingRunner runner;
    Settings settings;
    StopChannel stop;
    const WipeEnv env{runner, settings, stop, dir.path()};
    // The third call that opens a descriptor (after the folder and the held entry) is
    // the pass's open of the file: found on a first wipe, by the descriptors it leaves.
    auto openDescriptors = [] {
        int count = 0;
        if (DIR* fds = ::opendir("/proc/self/fd")) {
            while (::readdir(fds))
                ++count;
            ::closedir(fds);
        }
        return count;
    };
    std::vector<int> before;
    runner.onBlocking = [&] { before.push_back(openDescriptors()); };
    (void)WipeFileLeast(victim, true, env);
    before.push_back(openDescriptors());
    int openCall = 0;
    for (int i = 0, opens = 0; i + 1 < int(before.size()) && !openCall; ++i) {
        if (before[size_t(i) + 1] > before[size_t(i)] && ++opens == 3)
            openCall = i + 1;
    }
    ASSERT_GT(openCall, 0);
    writeFile(victim, kOriginal);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, other.constData(), IN_OPEN), 0);
    int calls = 0;
    runner.onBlocking = [&] {
        if (++calls == openCall) {
            ASSERT_EQ(::unlink(victim.constData()), 0);
            ASSERT_EQ(::symlink(other.constData(), victim.constData()), 0);
        }
    };
    EXPECT_THROW((void)WipeFileLeast(victim, true, env), Error);
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the other file was opened";
    ::close(watch);
    EXPECT_EQ(readFile(other), kOther);
}

} // namespace
} // namespace ov
