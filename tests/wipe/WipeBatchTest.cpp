// Many files at the least level together: every pass on the disk before the next, each
// file checked and ended as a single wipe checks and ends it.
#include "wipe/WipeBatch.h"
#include "wipe/WipeMethods.h"

#include "platform/Error.h"
#include "support/LoopMount.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

constexpr int kFiles = 12;
constexpr qint64 kBlock = 4096;

QByteArray marker(int i)
{
    return "<<BATCH-" + QByteArray::number(i).rightJustified(4, '0') + ">>";
}

QByteArray content(int i)
{
    return marker(i).repeated(kBlock / 14 + 1).left(kBlock);
}

class Batch : public ::testing::Test
{
protected:
    WipeEnv env() { return WipeEnv{runner, settings, stop, {}}; }

    test::RecordingRunner runner;
    Settings settings;
    StopChannel stop;
};

// Files of a loop-mounted volume whose blocks the test finds on the raw image, to see
// what has reached the disk at any moment.
class BatchOnDisk : public Batch
{
protected:
    bool mount(const QString& fsType)
    {
        m_volume.reset();
        m_places.clear();
        m_volume = test::LoopMount::create(fsType, qint64(300) << 20, &m_why);
        if (!m_volume)
            return false;
        for (int i = 0; i < kFiles; ++i)
            writeFile(file(i), content(i));
        // On the disk before the wipe, as the files of a user are.
        m_volume->unmount();
        m_volume->remount();
        const QByteArray image = readFile(m_volume->imagePath());
        for (int i = 0; i < kFiles; ++i) {
            m_places.push_back(image.indexOf(content(i)));
            if (m_places.back() < 0)
                return false;
        }
        return true;
    }
    QByteArray file(int i) const { return m_volume->mountPoint() + "/f" + QByteArray::number(i); }
    // What the block of each file holds on the raw image now, a letter a file: "0" zero
    // bytes, "F" 0xFF bytes, "M" its marker, "?" anything else.
    std::string onDisk() const
    {
        QFile image(QFile::decodeName(m_volume->imagePath()));
        std::string blocks;
        if (!image.open(QIODevice::ReadOnly))
            return blocks;
        for (size_t i = 0; i < m_places.size(); ++i) {
            image.seek(m_places[i]);
            const QByteArray block = image.read(kBlock);
            blocks += block == QByteArray(kBlock, '\0')     ? '0'
                      : block == QByteArray(kBlock, '\xff') ? 'F'
                      : block == content(int(i))            ? 'M'
                                                            : '?';
        }
        return blocks;
    }
    static std::string all(char letter) { return std::string(kFiles, letter); }
    std::string why() const { return m_why.toStdString(); }
    // The names that a power cut now would bring back: the raw image as it is, mounted
    // (its journal replayed) as a copy.
    std::vector<QByteArray> namesAfterAPowerCut(const QString& fsType) const
    {
        test::TempDir scratch;
        const QString copy = QFile::decodeName(scratch.file("image"));
        const QString point = QFile::decodeName(scratch.file("mnt"));
        std::vector<QByteArray> names{"(the copy could not be mounted)"};
        if (!QFile::copy(QFile::decodeName(m_volume->imagePath()), copy) || !QDir().mkpath(point))
            return names;
        // xfs refuses a second volume of the same identity unless told.
        const QString options = fsType == "xfs" ? "loop,nouuid" : "loop";
        if (!test::runTool("mount", {"-o", options, copy, point}))
            return names;
        names.clear();
        for (int i = 0; i < kFiles; ++i) {
            if (test::exists(QFile::encodeName(point) + "/f" + QByteArray::number(i)))
                names.push_back("f" + QByteArray::number(i));
        }
        test::runTool("umount", {point});
        return names;
    }
    // Puts the file's old block back on the raw image, as a disk that lost the wipe's
    // writes would hold it.
    void restoreOnDisk(int i) const
    {
        QFile image(QFile::decodeName(m_volume->imagePath()));
        ASSERT_TRUE(image.open(QIODevice::ReadWrite) && image.seek(m_places[size_t(i)]));
        ASSERT_EQ(image.write(content(i)), kBlock);
        ASSERT_TRUE(image.flush() && ::fsync(image.handle()) == 0);
    }
    long long markersLeft() const
    {
        long long left = 0;
        for (int i = 0; i < kFiles; ++i)
            left += test::countOccurrences(m_volume->imagePath(), marker(i));
        return left;
    }

private:
    QString m_why;
    std::unique_ptr<test::LoopMount> m_volume;
    std::vector<qint64> m_places;
};

// Each pass is on the disk for every file before the next pass writes anything, and the
// last one before any file is deleted: what the raw image holds at the first write of
// each pass proves it. The deleted files leave nothing behind.
// File by file too: at the first write of every pass after the first, the disk already
// shows the pass before it over the file's old block.
TEST_F(BatchOnDisk, FileByFileEveryPassReachesTheDiskBeforeTheNext)
{
    if (!mount("ext4"))
        GTEST_SKIP() << why();
    std::string high;
    for (int repeat = 0; repeat < 11; ++repeat)
        high += "0F0";
    const std::pair<WipeLevel, std::string> levels[] = {
        {WipeLevel::Least, "0F"},
        // Eleven times "00", "FF", "00"; the last pass is followed by no other.
        {WipeLevel::High, high.substr(0, 32)},
    };
    for (int i = 0; i < 2; ++i) {
        const auto& [level, expected] = levels[i];
        WipeEnv wipeEnv = env();
        int writes = 0;
        std::string seen;
        // Every pass of a file this small is one write of its block (the high level's first
        // also writes the few bytes its rounding adds past the end).
        wipeEnv.onWritten = [&](std::size_t bytes) {
            if (bytes >= size_t(kBlock) && ++writes > 1)
                seen += onDisk()[size_t(i)];
        };
        const WipeOutcome outcome = wipeAtLevel(file(i), level, wipeEnv);
        EXPECT_EQ(seen, expected) << int(level);
        EXPECT_EQ(outcome.verdict.kind, Verdict::Kind::Verified) << int(level);
    }
}

TEST_F(BatchOnDisk, EveryPassReachesTheDiskBeforeTheNext)
{
    for (const char* fsType : {"ext4", "xfs"}) {
        if (!mount(fsType))
            GTEST_SKIP() << why();
        WipeEnv wipeEnv = env();
        qint64 written = 0;
        std::vector<std::string> seen;
        wipeEnv.onWritten = [&](std::size_t bytes) {
            written += qint64(bytes);
            // The first write of pass 2 and of pass 3 has just been made, to the first
            // file, and not flushed: the disk shows the pass before it for every file.
            if (written == kFiles * kBlock + kBlock || written == 2 * kFiles * kBlock + kBlock)
                seen.push_back(onDisk());
        };
        WipeBatch batch(wipeEnv);
        for (int i = 0; i < kFiles; ++i)
            batch.add(file(i));
        const std::vector<WipeBatch::Result> results = batch.run();

        ASSERT_EQ(seen.size(), 2u) << fsType;
        EXPECT_EQ(seen[0], all('0')) << fsType << ": pass 1 was not on the disk";
        EXPECT_EQ(seen[1], all('F')) << fsType << ": pass 2 was not on the disk";
        ASSERT_EQ(results.size(), size_t(kFiles));
        for (int i = 0; i < kFiles; ++i) {
            EXPECT_EQ(results[i].path, file(i));
            ASSERT_TRUE(results[i].outcome) << fsType << results[i].failure->what();
            EXPECT_EQ(results[i].outcome->verdict.kind, Verdict::Kind::Verified) << fsType;
            EXPECT_FALSE(test::exists(file(i)));
        }
        EXPECT_EQ(onDisk(), all('0')) << fsType;
        EXPECT_EQ(markersLeft(), 0) << fsType;
        EXPECT_EQ(namesAfterAPowerCut(fsType), std::vector<QByteArray>{})
            << fsType << ": the deletes were not on the disk";
    }
}

// The files of a batch are read back together, each against its own old blocks: the two
// whose blocks the disk lost the last pass of are told, the others verified.
TEST_F(BatchOnDisk, EachFileIsReadBackFromItsOwnBlocks)
{
    if (!mount("ext4"))
        GTEST_SKIP() << why();
    WipeEnv wipeEnv = env();
    qint64 written = 0;
    int unitOfLastWrite = 0;
    wipeEnv.onWritten = [&](std::size_t bytes) {
        written += qint64(bytes);
        unitOfLastWrite = runner.handOffs;
    };
    runner.onBlocking = [&] { // the unit after the last pass and its flush
        if (written == 3 * kFiles * kBlock && runner.handOffs == unitOfLastWrite + 1) {
            restoreOnDisk(3);
            restoreOnDisk(8);
        }
    };
    WipeBatch batch(wipeEnv);
    for (int i = 0; i < kFiles; ++i)
        batch.add(file(i));
    const std::vector<WipeBatch::Result> results = batch.run();
    ASSERT_EQ(results.size(), size_t(kFiles));
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_TRUE(results[i].outcome) << results[i].failure->what();
        const Verdict& verdict = results[i].outcome->verdict;
        if (i == 3 || i == 8)
            EXPECT_EQ(verdict.kind, Verdict::Kind::NotReached)
                << i << verdict.explained().toStdString();
        else
            EXPECT_EQ(verdict.kind, Verdict::Kind::Verified) << i;
    }
}

// A stop ends the passes after the write in hand; that write is flushed too, and every
// file stays, part-overwritten, with the stop as its failure.
TEST_F(BatchOnDisk, AStopFlushesWhatWasWrittenAndDeletesNothing)
{
    if (!mount("ext4"))
        GTEST_SKIP() << why();
    WipeEnv wipeEnv = env();
    qint64 written = 0;
    wipeEnv.onWritten = [&](std::size_t bytes) {
        written += qint64(bytes);
        if (written == kFiles * kBlock + kBlock) // the first file's second pass
            stop.request(StopChannel::When::AfterWrite);
    };
    WipeBatch batch(wipeEnv);
    for (int i = 0; i < kFiles; ++i)
        batch.add(file(i));
    const std::vector<WipeBatch::Result> results = batch.run();
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_TRUE(results[i].failure);
        EXPECT_EQ(results[i].failure->code(), ECANCELED);
        EXPECT_TRUE(results[i].touched);
        EXPECT_TRUE(test::exists(file(i)));
    }
    EXPECT_EQ(onDisk(), "F" + all('0').substr(1)) << "the write in hand is on the disk too";
    EXPECT_EQ(markersLeft(), 0);
}

// Each file is checked before the first byte as a single wipe checks it, and one that
// fails in the middle fails alone: the others are destroyed, the file swapped in is not
// touched.
TEST_F(Batch, FilesAreCheckedFirstAndFailAlone)
{
    test::TempDir dir;
    std::vector<QByteArray> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(dir.file("f" + QByteArray::number(i)));
        writeFile(files.back(), content(i));
    }
    const QByteArray readOnly = dir.file("read-only"), other = dir.file("other");
    writeFile(readOnly, "keep");
    writeFile(other, "keep");
    ASSERT_EQ(::chmod(readOnly.constData(), 0444), 0);

    WipeEnv wipeEnv = env();
    qint64 written = 0;
    wipeEnv.onWritten = [&](std::size_t bytes) {
        written += qint64(bytes);
        if (written == 4 * kBlock) { // pass 1 is over: the third file is replaced
            ASSERT_EQ(std::rename(other.constData(), files[2].constData()), 0);
        }
    };
    WipeBatch batch(wipeEnv);
    for (const QByteArray& path : files)
        batch.add(path);
    for (const QByteArray& refused : {readOnly, dir.file("missing")})
        EXPECT_THROW(batch.add(refused), Error) << refused.constData();
    const std::vector<WipeBatch::Result> results = batch.run();
    ASSERT_EQ(results.size(), 4u);
    for (int i : {0, 1, 3}) {
        EXPECT_TRUE(results[i].outcome) << i;
        EXPECT_FALSE(test::exists(files[i])) << i;
    }
    ASSERT_TRUE(results[2].failure);
    EXPECT_EQ(results[2].failure->message(),
              QStringLiteral("The file was replaced while it was being destroyed"));
    EXPECT_EQ(readFile(files[2]), "keep");
    EXPECT_EQ(readFile(readOnly), "keep");
}

// With scrambling each file goes under the throw-away name, one after the other, and
// nothing is left; a file already in the way is refused before anything is written.
TEST_F(Batch, ScrambledNamesAndAFileInTheWay)
{
    test::TempDir dir;
    settings.ScrambleNames = true;
    const WipeEnv wipeEnv = env();
    WipeBatch batch(wipeEnv);
    for (int i = 0; i < 3; ++i) {
        writeFile(dir.file("f" + QByteArray::number(i)), content(i));
        batch.add(dir.file("f" + QByteArray::number(i)));
    }
    for (const WipeBatch::Result& result : batch.run())
        EXPECT_TRUE(result.outcome) << result.path.constData();
    EXPECT_FALSE(test::exists(dir.file("ovlxx.ovl")));
    EXPECT_FALSE(test::exists(dir.file("f0")) || test::exists(dir.file("f2")));

    writeFile(dir.file("ovlxx.ovl"), "mine");
    writeFile(dir.file("g"), "keep");
    EXPECT_THROW(batch.add(dir.file("g")), Error);
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(readFile(dir.file("g")), "keep");
}

} // namespace
} // namespace ov
