#include "platform/BlockingRunner.h"
#include "platform/DirectRead.h"
#include "platform/Error.h"
#include "platform/FileSystemKind.h"
#include "platform/Files.h"
#include "platform/NameTraces.h"
#include "platform/Paths.h"
#include "platform/Together.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace ov {
namespace {

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

void expectFailureComesBack(BlockingRunner& loop)
{
    EXPECT_THAT([&] { loop.runBlocking([] { throw Error(ENOSPC, "No space left", "/x"); }); },
                Throws<Error>(AllOf(Property(&Error::code, ENOSPC),
                                    Property(&Error::path, QByteArray("/x")))));
}

// Runs before any test below makes the application object.
TEST(BlockingRunner, WithoutAnApplicationCallsRunInPlace)
{
    if (QCoreApplication::instance())
        GTEST_SKIP() << "an application object exists already: run this test on its own";
    WorkerThreadRunner qt;
    InPlaceRunner direct;
    for (BlockingRunner* loop :
         {static_cast<BlockingRunner*>(&qt), static_cast<BlockingRunner*>(&direct)}) {
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
    WorkerThreadRunner loop;
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
    InPlaceRunner loop;
};

// The held folder: every name is looked up in the folder that was opened, whatever the
// path leads to by now, and nothing reaches through a link.
TEST_F(Files, AHeldFolderIsTheOneOpenedAndNothingGoesThroughALink)
{
    ASSERT_EQ(::mkdir(dir.file("a").constData(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("b").constData(), 0755), 0);
    writeFile(dir.file("a/victim"), "named");
    writeFile(dir.file("b/victim"), "unrelated");
    const fs::Folder folder = fs::Folder::open(dir.file("a"), loop);
    EXPECT_TRUE(folder.stillAt(dir.file("a")));
    // The folder is swapped for a link to another one.
    ASSERT_EQ(::rename(dir.file("a").constData(), dir.file("a.old").constData()), 0);
    ASSERT_EQ(::symlink(dir.file("b").constData(), dir.file("a").constData()), 0);
    EXPECT_FALSE(folder.stillAt(dir.file("a")));
    fs::File file = folder.openFile("victim", fs::File::Access::ReadWrite);
    file.writeAt("NAMED", 5, 0);
    file.close();
    EXPECT_EQ(readFile(dir.file("a.old/victim")), "NAMED");
    EXPECT_EQ(readFile(dir.file("b/victim")), "unrelated");

    // Renames never replace; the entry of a link is the link, never its target.
    writeFile(dir.file("a.old/other"), "other");
    EXPECT_THAT([&] { folder.rename("victim", "other"); },
                Throws<Error>(AllOf(Property(&Error::code, EEXIST),
                                    Property(&Error::path, dir.file("a/other")))));
    EXPECT_EQ(readFile(dir.file("a.old/other")), "other");
    folder.rename("victim", "renamed");
    EXPECT_EQ(readFile(dir.file("a.old/renamed")), "NAMED");
    ASSERT_EQ(::chmod(dir.file("b/victim").constData(), 0444), 0);
    ASSERT_EQ(::symlink(dir.file("b/victim").constData(), dir.file("a.old/link").constData()), 0);
    const fs::Descriptor link = folder.openEntry("link");
    EXPECT_TRUE(S_ISLNK(fs::entryInfo(link, "link", loop).mode));
    EXPECT_THROW(fs::setMode(link, 0644, "link", loop), Error);
    EXPECT_EQ(modeOf("b/victim"), 0444u);
    const fs::Descriptor entry = folder.openEntry("renamed");
    fs::setMode(entry, 0600, "renamed", loop);
    EXPECT_EQ(modeOf("a.old/renamed"), 0600u);
    EXPECT_THAT(folder.names(), UnorderedElementsAre("renamed", "other", "link"));
}

// The scratch entries' attribute goes on them and never through a link planted in their
// place; the failure names the entry.
TEST_F(Files, ScratchAttributesGoOnlyOnItsOwnEntries)
{
    writeFile(dir.file("outside"), "user's");
    const fs::Folder folder = fs::Folder::open(dir.path(), loop);
    names::Scratch scratch = names::Scratch::open(folder, ".scratch", loop);
    ASSERT_TRUE(scratch.createEmpty(3, [] { return false; }));
    const auto value = [&](const QByteArray& path) {
        char bytes[16] = {};
        const ssize_t n = ::lgetxattr(path.constData(), "user.ov", bytes, sizeof bytes);
        return n < 0 ? QByteArray() : QByteArray(bytes, int(n));
    };
    // Each entry's value begins with its own number.
    EXPECT_EQ(scratch.setAttribute({0, 1, 2}, "....first", [] { return false; }), 3);
    EXPECT_EQ(value(dir.file(".scratch/000002")), QByteArray("\2\0\0\0first", 9));
    ASSERT_EQ(::unlink(dir.file(".scratch/000001").constData()), 0);
    ASSERT_EQ(::symlink(dir.file("outside").constData(), dir.file(".scratch/000001").constData()),
              0);
    const auto again = [&] { scratch.setAttribute({0, 1, 2}, "....second", [] { return false; }); };
    EXPECT_THAT(again, Throws<Error>(Property(&Error::path, dir.file(".scratch/000001"))));
    EXPECT_EQ(value(dir.file(".scratch/000000")).mid(4), "second");
    EXPECT_EQ(value(dir.file("outside")), QByteArray());
    scratch.removeAll();
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(dir.file(".scratch"))));
    EXPECT_EQ(readFile(dir.file("outside")), "user's");
}

// Paths longer than the system takes (300 folders of 200-byte names: 60 KB) are
// followed a stretch at a time, links on the way as the path names them.
TEST_F(Files, PathsLongerThanTheSystemTakesLeadWhereTheyName)
{
    ASSERT_EQ(::mkdir(dir.file("top").constData(), 0755), 0);
    test::DeepTree tree(dir.file("top"), 300, 200);
    tree.writeFile(300, "deep", "deepest");
    const QByteArray bottom = tree.folder(300);
    ASSERT_GT(bottom.size(), 60000);

    const fs::Folder folder = fs::Folder::open(bottom, loop);
    EXPECT_TRUE(folder.stillAt(bottom));
    EXPECT_TRUE(fs::isFolder(bottom + "//"));
    const std::optional<fs::EntryInfo> file = fs::lookAt(bottom + "/deep");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->size, 7);
    EXPECT_EQ(fs::entryInfo(bottom + "/deep").id, folder.lookAt("deep")->id);
    EXPECT_FALSE(fs::lookAt(bottom + "/none").has_value());
    ASSERT_EQ(::symlink(tree.folder(15).constData(), dir.file("link").constData()), 0);
    const QByteArray throughLink = dir.file("link") + bottom.mid(tree.folder(15).size());
    EXPECT_TRUE(folder.stillAt(throughLink));
    EXPECT_TRUE(fs::lookAt(throughLink + "/deep").has_value());

    // Moved away high up, the path leads nowhere.
    const QByteArray moved = dir.file("top/moved");
    ASSERT_EQ(::rename(tree.folder(1).constData(), moved.constData()), 0);
    EXPECT_FALSE(folder.stillAt(bottom));
    EXPECT_THAT(
        [&] { fs::Folder::open(bottom, loop); },
        Throws<Error>(AllOf(Property(&Error::code, ENOENT), Property(&Error::path, bottom))));
    ASSERT_EQ(::rename(moved.constData(), tree.folder(1).constData()), 0);
    // No single name is that long.
    const QByteArray overlong = dir.file(QByteArray(5000, 'x'));
    EXPECT_THAT([&] { fs::Folder::open(overlong, loop); },
                Throws<Error>(Property(&Error::code, ENAMETOOLONG)));
}

TEST_F(Files, OpeningRefusesAllButRegularFilesWithoutOpeningThem)
{
    const fs::Folder folder = fs::Folder::open(dir.path(), loop);
    writeFile(dir.file("target"), "t");
    ASSERT_EQ(::symlink(dir.file("target").constData(), dir.file("link").constData()), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo").constData(), 0644), 0);
    ASSERT_EQ(::mkdir(dir.file("folder").constData(), 0755), 0);
    // A FIFO opened for writing would block for ever without a reader.
    const std::pair<const char*, const char*> refused[] = {
        {"link", "symbolic link"}, {"fifo", "FIFO"}, {"folder", "folder"}};
    for (auto [name, what] : refused)
        try {
            folder.openFile(name, fs::File::Access::WriteOnly);
            ADD_FAILURE() << name << " was opened";
        } catch (const Error& error) {
            EXPECT_TRUE(error.message().contains(QString::fromUtf8(what))) << name;
        }
    EXPECT_THROW(folder.openFile("no/such", fs::File::Access::ReadOnly), Error);

    // The append files of the log and the free-space run: no link, no other name, private.
    EXPECT_THROW(folder.openAppendOwned("link"), Error);
    writeFile(dir.file("linked"), "v");
    ASSERT_EQ(::link(dir.file("linked").constData(), dir.file("second").constData()), 0);
    EXPECT_THAT([&] { folder.openAppendOwned("second"); },
                Throws<Error>(Property(&Error::code, EMLINK)));
    EXPECT_EQ(readFile(dir.file("linked")), "v");
    EXPECT_EQ(readFile(dir.file("target")), "t");
    fs::File file = fs::File::openAppendOwned(dir.file("new"), loop);
    file.append("abc", 3);
    EXPECT_EQ(file.appendSome("de", 2), 2u);
    file.sync();
    file.close();
    EXPECT_EQ(readFile(dir.file("new")), "abcde");
    EXPECT_EQ(modeOf("new"), 0600u);
}

TEST_F(Files, DataStretchesSkipHolesAndPseudoFileSystemsAreKnown)
{
    const QByteArray path = dir.file("sparse");
    writeFile(path, QByteArray(4096, 'a'));
    ASSERT_EQ(::truncate(path.constData(), 64 << 20), 0);
    {
        const int fd = ::open(path.constData(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "zz", 2, (32 << 20) + 5), 2);
        ::close(fd);
    }
    const fs::Folder folder = fs::Folder::open(dir.path(), loop);
    const fs::File file = folder.openFile("sparse", fs::File::Access::ReadOnly);
    std::vector<std::pair<off_t, off_t>> stretches;
    for (off_t at = 0;;) {
        const auto data = file.nextData(at, 64 << 20);
        if (!data)
            break;
        stretches.push_back(*data);
        at = data->second;
    }
    // Where the file system keeps holes, only the two written stretches (in whole blocks).
    ASSERT_FALSE(stretches.empty());
    EXPECT_EQ(stretches.front().first, 0);
    off_t covered = 0;
    for (auto [from, to] : stretches) {
        EXPECT_LT(from, to);
        covered += to - from;
    }
    EXPECT_TRUE(covered == (64 << 20) || covered <= (1 << 20)) << covered;
    EXPECT_FALSE(file.nextData(64 << 20, 64 << 20).has_value());

    const fs::Folder proc = fs::Folder::open("/proc/self", loop);
    const FileSystemKind procfs = fs::fileSystemOf(proc.openEntry("comm"), "comm", loop);
    EXPECT_EQ(procfs.name, QByteArray("proc"));
    EXPECT_EQ(procfs.writes, WriteKind::KernelInterface);
    EXPECT_NE(fs::fileSystemOf(folder.openEntry("sparse"), "sparse", loop).writes,
              WriteKind::KernelInterface);
}

// Whatever would make the rename or the delete fail is found before anything is written.
TEST_F(Files, NamesThatCannotBeChangedAreFoundBeforehand)
{
    writeFile(dir.file("file"), "f");
    const fs::Folder folder = fs::Folder::open(dir.path(), loop);
    const fs::EntryInfo info = fs::entryInfo(dir.file("file"));
    EXPECT_NO_THROW(folder.requireNamesChangeable(info, dir.file("file")));
    test::Immutable frozen(dir.path());
    if (!frozen.ok())
        GTEST_SKIP() << "chattr +i needs root and a file system that keeps the flag";
    EXPECT_THAT([&] { folder.requireNamesChangeable(info, dir.file("file")); },
                Throws<Error>(AllOf(Property(&Error::code, EPERM),
                                    Property(&Error::path, dir.file("file")))));
}

// A batch holds three descriptors a file: the limit goes as high as the system lets it.
TEST(DescriptorLimit, IsRaisedAsFarAsAllowed)
{
    struct rlimit before = {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    if (before.rlim_max <= 256)
        GTEST_SKIP() << "the hard limit is too low to lower the soft one below it";
    struct rlimit lowered = before;
    lowered.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    EXPECT_EQ(fs::descriptorLimit(), 256u);
    const std::size_t raised = fs::raiseDescriptorLimit();
    EXPECT_EQ(raised, before.rlim_max == RLIM_INFINITY ? std::numeric_limits<std::size_t>::max()
                                                       : std::size_t(before.rlim_max));
    EXPECT_EQ(fs::descriptorLimit(), raised);
    ::setrlimit(RLIMIT_NOFILE, &before);
}

// Every index is worked on exactly once, on no more threads than asked, and all of it is
// over when together() returns.
TEST(Together, EachIndexOnceAndAllDoneOnReturn)
{
    for (std::size_t count : {0, 1, 3, 500}) {
        std::vector<std::atomic<int>> seen(count);
        std::atomic<int> running{0}, most{0};
        together(count, 4, [&](std::size_t i) {
            const int now = ++running;
            for (int was = most.load(); now > was && !most.compare_exchange_weak(was, now);) {
            }
            ++seen[i];
            --running;
        });
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(seen[i].load(), 1) << i << " of " << count;
        EXPECT_LE(most.load(), 4);
        EXPECT_EQ(running.load(), 0);
    }
}

// The kinds of the file systems this machine has mounted, as the kernel reports them.
TEST(FileSystemKinds, KnownByNameAndByMagicAlike)
{
    const std::pair<const char*, WriteKind> mounted[] = {{"/dev/shm", WriteKind::MemoryOnly},
                                                         {"/proc", WriteKind::KernelInterface}};
    for (auto [path, kind] : mounted) {
        struct statfs st = {};
        ASSERT_EQ(::statfs(path, &st), 0) << path;
        EXPECT_EQ(fileSystemKindByMagic(long(st.f_type)).writes, kind) << path;
    }
    for (const char* name : {"ext4", "xfs", "btrfs", "f2fs", "tmpfs", "nfs4", "vfat"}) {
        const FileSystemKind byName = fileSystemKindByName(name);
        EXPECT_NE(byName.writes, WriteKind::Unknown) << name;
        EXPECT_EQ(writeKindReason(byName).isEmpty(), byName.writes == WriteKind::InPlace) << name;
    }
    EXPECT_EQ(fileSystemKindByName("fuse.sshfs").writes, WriteKind::Remote);
    EXPECT_EQ(fileSystemKindByName("btrfs").writes, WriteKind::CopyOnWrite);
    EXPECT_EQ(fileSystemKindByName("unheard-of").writes, WriteKind::Unknown);
}

TEST(Paths, JoinAndFolders)
{
    EXPECT_EQ(joinPath("/", "x"), "/x");
    EXPECT_EQ(joinPath("/a", "x"), "/a/x");
    EXPECT_EQ(joinPath("/a/", "x"), "/a/x");
    EXPECT_TRUE(programFolder().startsWith('/'));
    EXPECT_TRUE(test::exists(programFolder() + "/platform_tests"));
}

// A stretch read back past the cache holds its byte only when every byte of it does: one
// other byte deep inside a later read, past unaligned ends, or beyond the end of the
// file is found.
TEST(DirectReading, AStretchHoldsItsByteOnlyWhenEveryByteOfItDoes)
{
    test::TempDir dir;
    QByteArray data(9 << 20, 'z');
    const qsizetype odd = (5 << 20) + 123;
    data[odd] = 'y';
    writeFile(dir.file("stretch"), data);
    InPlaceRunner runner;
    const fs::Folder folder = fs::Folder::open(dir.path(), runner);
    struct stat st;
    ASSERT_EQ(::stat(dir.file("stretch").constData(), &st), 0);
    const auto reader = fs::DirectReader::forFile(folder, "stretch", st.st_dev, st.st_ino, runner);
    if (!reader)
        GTEST_SKIP() << "this file system does not read past its cache";
    EXPECT_TRUE(reader->holds(0, odd, 'z'));
    EXPECT_TRUE(reader->holds(1, odd - 1, 'z'));
    EXPECT_TRUE(reader->holds(odd + 1, data.size() - odd - 1, 'z'));
    EXPECT_TRUE(reader->holds(odd, 1, 'y'));
    EXPECT_FALSE(reader->holds(4097, odd, 'z'));
    EXPECT_FALSE(reader->holds(0, data.size(), 'z'));
    EXPECT_FALSE(reader->holds(data.size() - 10, 20, 'z'));
}

} // namespace
} // namespace ov
