#include "wipe/WipeMethods.h"

#include "platform/Error.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"
#include "wipe/WipeModel.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

QByteArray randomBytes(qsizetype length, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(length, '\0');
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

class WipeMethods : public ::testing::Test
{
protected:
    test::TempDir dir;
    test::RecordingLoop loop;
    Settings settings;
};

TEST_F(WipeMethods, RoundingGoesHalfToEven)
{
    EXPECT_EQ(roundedChunkCount(21, 14), 2);
    EXPECT_EQ(roundedChunkCount(35, 14), 2);
    for (qsizetype length = 0; length < 2000; ++length) {
        EXPECT_EQ(roundedChunkCount(length, 14), test::halfToEven(length, 14)) << length;
        EXPECT_EQ(roundedChunkCount(length, 10), test::halfToEven(length, 10)) << length;
    }
}

TEST_F(WipeMethods, LeastLeavesZerosOverTheWholeLengthAndDeletes)
{
    for (qsizetype length : {0, 1, 7, 4096, 100000, 1048576 + 3, 3 * 1048576 + 17}) {
        const QByteArray path = dir.file("least.bin");
        writeFile(path, randomBytes(length, quint32(length)));
        WipeFileLeast(path, false, settings, loop);
        EXPECT_EQ(readFile(path), test::modelLeast(randomBytes(length, 0))) << length;
        WipeFileLeast(path, true, settings, loop);
        EXPECT_FALSE(test::exists(path)) << length;
    }
}

TEST_F(WipeMethods, LeastPassesAreSeparateAndEachFlushed)
{
    const QByteArray path = dir.file("passes.bin");
    writeFile(path, randomBytes(5000, 1));
    std::vector<QByteArray> seen;
    loop.onYield = [&] { seen.push_back(readFile(path)); };
    WipeFileLeast(path, false, settings, loop);
    // One yield after the chunk and one after each pass's close.
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[1], QByteArray(5000, '\x00'));
    EXPECT_EQ(seen[3], QByteArray(5000, '\xff'));
    EXPECT_EQ(seen[5], QByteArray(5000, '\x00'));
}

TEST_F(WipeMethods, MediumMatchesTheModelAtEveryLength)
{
    // Lengths around the block size and the growth past 10,000 bytes.
    for (qsizetype length : {0, 1, 4095, 4096, 4097, 8191, 8192, 10001, 12288, 40961, 300007}) {
        const QByteArray path = dir.file("medium.bin");
        const QByteArray original = randomBytes(length, quint32(length) + 7);
        writeFile(path, original);
        QByteArray last;
        loop.onYield = [&] {
            if (test::exists(path))
                last = readFile(path);
        };
        WipeFileMedium(path, loop);
        EXPECT_FALSE(test::exists(path));
        EXPECT_EQ(last, test::modelMedium(original)) << "length " << length;
    }
}

TEST_F(WipeMethods, MediumSkipsTheBlankEntries)
{
    EXPECT_NO_THROW(WipeFileMedium(" ", loop));
    EXPECT_NO_THROW(WipeFileMedium("", loop));
    EXPECT_EQ(loop.yields, 2);
    EXPECT_EQ(loop.blockingCalls, 0);
}

TEST_F(WipeMethods, MediumClearsReadOnlyAndIgnoresScrambling)
{
    const QByteArray path = dir.file("readonly.txt");
    writeFile(path, "keep me secret");
    ASSERT_EQ(::chmod(path.constData(), 0444), 0);
    settings.ScrambleNames = true;
    bool scrambledSeen = false;
    loop.onYield = [&] { scrambledSeen |= test::exists(dir.file("ovlxx.ovl")); };
    WipeFileMedium(path, loop);
    EXPECT_FALSE(test::exists(path));
    EXPECT_FALSE(scrambledSeen);
}

TEST_F(WipeMethods, HighMatchesTheModelIncludingTheRoundedTails)
{
    for (qsizetype length = 0; length <= 80; ++length) {
        const QByteArray path = dir.file("high.bin");
        const QByteArray original = randomBytes(length, quint32(length) + 99);
        writeFile(path, original);
        WipeFileHigh(path, 2, false, settings, loop);
        const QByteArray after = readFile(path);
        EXPECT_EQ(after, test::modelHigh(original, 2)) << "length " << length;
        // Not one byte of the original may survive inside its old length.
        EXPECT_EQ(after.left(length).count('\x00') + after.left(length).count('\xff'), length);
        // 7 grows to 10 zeros; 34 ends in zeros where the chunks stop at 28 and 30.
        if (length == 7 || length == 34) {
            EXPECT_EQ(after, QByteArray(length == 7 ? 10 : 34, '\0'));
        }
    }
}

TEST_F(WipeMethods, HighOnALargeFileAndDeletion)
{
    const QByteArray path = dir.file("big");
    const QByteArray original = randomBytes(2 * 1048576 + 13, 5);
    writeFile(path, original);
    WipeFileHigh(path, 1, false, settings, loop);
    EXPECT_EQ(readFile(path), test::modelHigh(original, 1));
    WipeFileHigh(path, 11, true, settings, loop);
    EXPECT_FALSE(test::exists(path));
}

TEST_F(WipeMethods, MissingFilesFailAtTheFirstStep)
{
    const QByteArray path = dir.file("missing");
    for (auto wipe :
         {+[](const QByteArray&p, Settings&s, EventLoop&l) { WipeFileLeast(p, true, s, l); },
          +[](const QByteArray&p, Settings&, EventLoop&l) { WipeFileMedium(p, l); },
          +[](const QByteArray&p, Settings&s, EventLoop&l) { WipeFileHigh(p, 11, true, s, l); }}) {
        try {
            wipe(path, settings, loop);
            ADD_FAILURE() << "a missing file was reported as wiped";
        } catch (const Error& error) {
            EXPECT_EQ(error.code(), ENOENT);
            EXPECT_EQ(error.path(), path);
            EXPECT_FALSE(error.message().isEmpty());
        }
    }
    EXPECT_EQ(loop.blockingCalls, 0);
}

TEST_F(WipeMethods, ReadOnlyFilesAreRefusedByLeastAndHigh)
{
    const QByteArray path = dir.file("readonly");
    writeFile(path, "original");
    ASSERT_EQ(::chmod(path.constData(), 0444), 0);
    try {
        WipeFileLeast(path, true, settings, loop);
        ADD_FAILURE() << "least level wrote a read-only file";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), EACCES);
    }
    try {
        WipeFileHigh(path, 11, true, settings, loop);
        ADD_FAILURE() << "high level wrote a read-only file";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), EACCES);
    }
    EXPECT_EQ(readFile(path), "original");
}

TEST_F(WipeMethods, FailuresAfterTheFirstStepAreRaisedAtTheHighLevel)
{
    // The file vanishes while the first phase runs: the old method swallowed this and
    // counted the file as deleted.
    const QByteArray path = dir.file("vanishing");
    writeFile(path, QByteArray(100, 'v'));
    loop.onYield = [&] { ::unlink(path.constData()); };
    EXPECT_THROW(WipeFileHigh(path, 11, true, settings, loop), Error);
}

TEST_F(WipeMethods, FilesOverFourGibibytes)
{
    // Sparse on tmpfs, so it costs memory bandwidth only. The medium method rounds the
    // length up to whole blocks and writes "x" over length / 4096 bytes: both overflow
    // with 32-bit lengths.
    const QByteArray shm = "/dev/shm";
    if (::access(shm.constData(), W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/shm";
    test::TempDir big(shm);
    const QByteArray path = big.file("huge");
    const off_t length = (off_t(4) << 30) + 5;
    {
        int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, length), 0);
        ASSERT_EQ(::pwrite(fd, "tail!", 5, length - 5), 5);
        ::close(fd);
    }
    const off_t blocks = length / 4096 + 1;
    struct stat st = {};
    bool checked = false;
    loop.onYield = [&] {
        // The last yield before the deletion: look at the finished file.
        if (::stat(path.constData(), &st) != 0 || st.st_size != blocks * 4096)
            return;
        int fd = ::open(path.constData(), O_RDONLY);
        char head[2] = {}, edge[2] = {}, end[2] = {};
        ::pread(fd, head, 2, 0);
        // The pattern passes see the grown length: one block more.
        ::pread(fd, edge, 2, blocks - 1);
        ::pread(fd, end, 2, st.st_size - 2);
        ::close(fd);
        checked =
            head[0] == 'x' && edge[0] == 'x' && edge[1] == 'u' && end[0] == '0' && end[1] == '0';
    };
    WipeFileMedium(path, loop);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(test::exists(path));
}

} // namespace
} // namespace ov
