// The run against volumes made up by the test: a real folder for the temporary file,
// free space that the test decides (and that shrinks as the file grows).
#include "diskclean/RecordingView.h"
#include "drive/FakeVolumes.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using ov::FreeSpaceRun;
using ov::test::readFile;
using ov::test::writeFile;

namespace {

const QString kReportStart = QStringLiteral("The error occured on line ");

class FakeVolumeRun : public ::testing::Test
{
protected:
    QByteArray folder() const { return dir.path(); }
    QByteArray tempFile(int index = 0) const { return dir.file(FreeSpaceRun::tempFileName(index)); }

    // The bytes in the run's files right now.
    std::int64_t tempBytes() const
    {
        std::int64_t total = 0;
        for (int index = 0; index < 10; ++index) {
            struct stat st;
            if (::lstat(tempFile(index).constData(), &st) == 0 && S_ISREG(st.st_mode))
                total += st.st_size;
        }
        return total;
    }

    ov::test::FakeVolumes::Volume& makeVolume(std::int64_t freeAtStart)
    {
        startFree = freeAtStart;
        auto& volume = volumes.add(folder() + "/", 1LL << 40, 0);
        volume.freeBytes = [this] {
            ++freeQueries;
            seenBytes = tempBytes();
            largestSeen = std::max(largestSeen, seenBytes);
            return std::uint64_t(std::max<std::int64_t>(0, startFree - seenBytes));
        };
        info = std::make_unique<ov::CDriveInfo>(volumes);
        info->setRootPath(folder());
        view.designator = folder();
        run = std::make_unique<FreeSpaceRun>(*info, view, loop, settings, log.get());
        return volume;
    }

    // What a run writing one block per cycle writes, starting with `free` bytes free.
    static std::int64_t blockByBlockBlocks(std::int64_t free)
    {
        return free < FreeSpaceRun::kEndThreshold
                   ? 0
                   : (free - FreeSpaceRun::kEndThreshold) / FreeSpaceRun::kBlockSize + 1;
    }

    void expectIdleAfterwards()
    {
        EXPECT_FALSE(run->isRunning());
        EXPECT_FALSE(view.stopInFront);
        EXPECT_TRUE(view.startEnabled);
        EXPECT_TRUE(view.driveListEnabled);
        EXPECT_EQ(tempBytes(), 0);
        EXPECT_FALSE(ov::test::exists(tempFile()));
    }

    ov::test::TempDir dir;
    ov::test::FakeVolumes volumes;
    ov::test::RecordingLoop loop;
    ov::test::RecordingView view;
    ov::Settings settings;
    std::unique_ptr<ov::OperationLog> log;
    std::unique_ptr<ov::CDriveInfo> info;
    std::unique_ptr<FreeSpaceRun> run;
    std::int64_t startFree = 0;
    std::int64_t seenBytes = 0;
    std::int64_t largestSeen = 0;
    int freeQueries = 0;
};

TEST(FillerBlock, SixLinesOf150BytesAndCrLf)
{
    const QByteArray block = FreeSpaceRun::fillerBlock();
    ASSERT_EQ(block.size(), 912);
    const unsigned char bytes[6] = {0x58, 0x30, 0xA7, 0xFF, 0x00, 0xFF};
    for (int line = 0; line < 6; ++line) {
        const QByteArray text = block.mid(line * 152, 152);
        EXPECT_EQ(text.left(150), QByteArray(150, char(bytes[line]))) << line;
        EXPECT_EQ(text.right(2), "\r\n") << line;
    }
    EXPECT_EQ(FreeSpaceRun::tempFileName(0), "ovtempx.dat");
    EXPECT_EQ(FreeSpaceRun::tempFileName(1), "ovtempx1.dat");
    EXPECT_EQ(FreeSpaceRun::tempFileName(12), "ovtempx12.dat");
}

TEST(ErrorReport, TextAndWriteSteps)
{
    EXPECT_EQ(ov::errorReportText(44), "The error occured on line 44please email the line "
                                       "number to support@tallowbrookworks.example");
    // By the line of the block a write failed in: 1 -> 0, 2-3 -> 1, 4-5 -> 3, 6 -> 7.
    const std::pair<int, int> steps[] = {{0, 0},   {151, 0}, {152, 1}, {455, 1},
                                         {456, 3}, {759, 3}, {760, 7}, {911, 7}};
    for (auto [offset, step] : steps)
        EXPECT_EQ(FreeSpaceRun::writeStepAt(offset), step) << offset;
}

TEST(BatchSize, WholeBlocksFarAwayOneBlockNearTheEnd)
{
    EXPECT_EQ(FreeSpaceRun::batchBlocks(10000), 1);
    EXPECT_EQ(FreeSpaceRun::batchBlocks(10000 + FreeSpaceRun::kNearZone - 1), 1);
    const std::int64_t far = 10000 + 10 * FreeSpaceRun::kNearZone;
    const int blocks = FreeSpaceRun::batchBlocks(far);
    EXPECT_GT(blocks, 1);
    EXPECT_LE(std::int64_t(blocks) * 912, (far - 10000) / 2);
    EXPECT_EQ(FreeSpaceRun::batchBlocks(1LL << 40), FreeSpaceRun::kMaxBatchBlocks);
}

TEST_F(FakeVolumeRun, BelowTheThresholdNothingIsWritten)
{
    for (std::int64_t free : {0, 9999}) {
        makeVolume(free);
        view = ov::test::RecordingView();
        view.designator = folder();
        run->Command1_Click();
        EXPECT_EQ(largestSeen, 0) << free;
        EXPECT_EQ(view.statusHistory,
                  QStringList({"Preparing...", "Preparation Done !", "Working...", "Done"}));
        EXPECT_EQ(view.cleaned, "0 Cleaned");
        EXPECT_EQ(view.left, "0 Left to clean");
        EXPECT_EQ(view.stackHistory, std::vector<bool>({true, false}));
        EXPECT_TRUE(view.reports.isEmpty());
        EXPECT_EQ(run->lastOutcome(), FreeSpaceRun::Outcome::Finished);
        expectIdleAfterwards();
    }
}

TEST_F(FakeVolumeRun, ExactlyTheThresholdWritesOneMoreBlock)
{
    makeVolume(10000);
    run->Command1_Click();
    EXPECT_EQ(largestSeen, 912);
    EXPECT_EQ(view.cleaned, "912 bytes\r\nCleaned");
    EXPECT_EQ(view.left, "8.88 KB (9,088 bytes)\r\nLeft to clean");
    EXPECT_EQ(view.status, "Done");
    expectIdleAfterwards();
}

TEST_F(FakeVolumeRun, BatchesEndWhereBlockByBlockWouldEnd)
{
    for (std::int64_t free : {10911LL, 10912LL, 2000000LL, 50000000LL + 123}) {
        largestSeen = 0;
        makeVolume(free);
        run->Command1_Click();
        EXPECT_EQ(largestSeen, blockByBlockBlocks(free) * 912) << free;
        EXPECT_LT(startFree - largestSeen, FreeSpaceRun::kEndThreshold);
        EXPECT_TRUE(view.reports.isEmpty());
        expectIdleAfterwards();
    }
}

TEST_F(FakeVolumeRun, LabelsAreRefreshedSparinglyAndOnceAtTheEnd)
{
    makeVolume(200000000);
    QElapsedTimer clock;
    clock.start();
    run->Command1_Click();
    const qint64 elapsed = clock.elapsed();
    // Ten refreshes a second at most, plus the first cycle's and the closing one.
    EXPECT_LE(view.leftUpdates, 1 + 2 + int(elapsed / 100)) << elapsed << " ms";
    EXPECT_EQ(view.cleaned, ov::CDriveInfo::FormatSize(largestSeen, false) + "\r\nCleaned");
    EXPECT_EQ(view.left,
              ov::CDriveInfo::FormatSize(startFree - largestSeen, true) + "\r\nLeft to clean");
}

TEST_F(FakeVolumeRun, AVolumeThatDoesNotAnswerGetsNothing)
{
    auto& volume = makeVolume(1000000);
    volume.space.reset();
    volume.freeBytes = nullptr;
    run->Command1_Click();
    EXPECT_FALSE(ov::test::exists(tempFile()));
    EXPECT_EQ(view.status, "Done");
    EXPECT_TRUE(view.reports.isEmpty());
    expectIdleAfterwards();
}

TEST_F(FakeVolumeRun, ClusterOverflowIsReportedAtStepZeroAndEndsNormally)
{
    volumes.extended = false;
    auto& volume = makeVolume(0);
    volume.clusters = ov::ClusterFigures{64, 512, 0x10000, 100}; // 2^31 free bytes
    run->Command1_Click();
    ASSERT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(view.reports[0].startsWith(kReportStart + "0please email the line number to "
                                                          "support@tallowbrookworks.example\n"));
    EXPECT_EQ(view.status, "Done");
    EXPECT_FALSE(ov::test::exists(tempFile()));
    expectIdleAfterwards();
}

TEST_F(FakeVolumeRun, AFailingScreenUpdateIsStep51AndTheFileStillGoes)
{
    auto& volume = makeVolume(5000000);
    int calls = 0;
    volume.freeBytes = [&] {
        // StillSpace's query answers; the one inside UpdateScreen overflows.
        return ++calls == 1 ? std::uint64_t(5000000) : std::uint64_t(1) << 62;
    };
    run->Command1_Click();
    EXPECT_EQ(view.reportSteps, std::vector<int>({51}));
    EXPECT_EQ(run->lastOutcome(), FreeSpaceRun::Outcome::Failed);
    expectIdleAfterwards();
}

TEST_F(FakeVolumeRun, StopFinishesTheCycleDeletesTheFileAndRefusesASecondRun)
{
    makeVolume(30000000);
    int yieldsAfterStop = -1;
    std::int64_t sizeAtStop = 0;
    QStringList statusAtSecondClick;
    loop.onYield = [&] {
        if (yieldsAfterStop >= 0) {
            ++yieldsAfterStop;
            // A click on the start button while the stopped run finishes: nothing.
            statusAtSecondClick = view.statusHistory;
            EXPECT_FALSE(view.startEnabled);
            run->Command1_Click();
            EXPECT_EQ(view.statusHistory, statusAtSecondClick);
            return;
        }
        if (tempBytes() > 0) {
            sizeAtStop = tempBytes();
            run->cmdStop_Click();
            EXPECT_FALSE(run->DriveWorking());
            EXPECT_FALSE(view.stopInFront) << "the start button is in front at once";
            yieldsAfterStop = 0;
        }
    };
    run->Command1_Click();
    EXPECT_GT(sizeAtStop, 0);
    EXPECT_LE(largestSeen, sizeAtStop + FreeSpaceRun::kMaxBatchBlocks * 912LL)
        << "no cycle after the one in progress";
    EXPECT_EQ(view.status, "Done");
    EXPECT_EQ(run->lastOutcome(), FreeSpaceRun::Outcome::Stopped);
    EXPECT_NE(view.cleaned, "0 Cleaned") << "the labels keep their last figures";
    expectIdleAfterwards();
}

TEST_F(FakeVolumeRun, AStopWhilePreparingIsNotLost)
{
    makeVolume(30000000);
    loop.onYield = [&] {
        if (view.status == "Preparation Done !")
            run->cmdStop_Click();
    };
    run->Command1_Click();
    EXPECT_EQ(largestSeen, 0);
    EXPECT_EQ(view.status, "Done");
    EXPECT_EQ(view.cleaned, "0 Cleaned");
    expectIdleAfterwards();
}

TEST_F(FakeVolumeRun, ALeftoverFileIsAppendedToCountedAndDeleted)
{
    writeFile(tempFile(), QByteArray(1000, 'L'));
    makeVolume(11000); // 10,000 free with the leftover: one more block
    std::int64_t firstSeen = -1;
    loop.onYield = [&] {
        if (firstSeen < 0 && tempBytes() > 1000) {
            firstSeen = tempBytes();
            const QByteArray content = readFile(tempFile());
            EXPECT_EQ(content.left(1000), QByteArray(1000, 'L'));
            EXPECT_EQ(content.mid(1000), FreeSpaceRun::fillerBlock());
        }
    };
    run->Command1_Click();
    EXPECT_EQ(firstSeen, 1912);
    EXPECT_EQ(view.cleaned, "1.87 KB\r\nCleaned");
    expectIdleAfterwards();
}

TEST_F(FakeVolumeRun, ALeftoverFileGoesEvenWhenTheVolumeIsFull)
{
    writeFile(tempFile(), QByteArray(4000, 'L'));
    writeFile(tempFile(1), QByteArray(10, 'L'));
    makeVolume(0);
    run->Command1_Click();
    EXPECT_FALSE(ov::test::exists(tempFile(1)));
    expectIdleAfterwards();
}

TEST_F(FakeVolumeRun, APlantedLinkIsRefusedAndItsTargetUntouched)
{
    ov::test::TempDir elsewhere;
    const QByteArray target = elsewhere.file("precious.txt");
    writeFile(target, "keep me");
    ASSERT_EQ(::symlink(target.constData(), tempFile().constData()), 0);
    makeVolume(5000000);
    run->Command1_Click();
    ASSERT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(view.reports[0].contains(QString::fromUtf8(tempFile())));
    EXPECT_EQ(readFile(target), "keep me");
    struct stat st;
    ASSERT_EQ(::lstat(tempFile().constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "someone else's link is left where it is";
    EXPECT_FALSE(view.stopInFront);
    EXPECT_TRUE(view.driveListEnabled);
    EXPECT_EQ(run->lastOutcome(), FreeSpaceRun::Outcome::Failed);
}

TEST_F(FakeVolumeRun, AnotherUsersFileIsRefused)
{
    if (!ov::test::runningAsRoot())
        GTEST_SKIP() << "giving a file away needs root";
    writeFile(tempFile(), "theirs");
    ASSERT_EQ(::chown(tempFile().constData(), 12345, 12345), 0);
    makeVolume(5000000);
    run->Command1_Click();
    EXPECT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_EQ(readFile(tempFile()), "theirs");
}

TEST_F(FakeVolumeRun, LoggingWritesOneLineBeforeTheFirstCycle)
{
    log = std::make_unique<ov::OperationLog>(dir.file("log.txt"));
    settings.LogOperations = true;
    auto& volume = makeVolume(3000000);
    bool lineBeforeFirstWrite = false;
    volume.freeBytes = [&] {
        if (tempBytes() == 0 && ov::test::exists(dir.file("log.txt")))
            lineBeforeFirstWrite = true;
        return std::uint64_t(startFree - tempBytes());
    };
    run->Command1_Click();
    EXPECT_TRUE(lineBeforeFirstWrite);
    const QList<QByteArray> lines = readFile(dir.file("log.txt")).split('\n');
    ASSERT_EQ(lines.size(), 2) << "one line and its end";
    EXPECT_TRUE(lines[0].endsWith("] : Cleaning Free Space on drive " + folder() + "\r"))
        << lines[0].constData();

    settings.LogOperations = false;
    QFile::remove(QFile::decodeName(dir.file("log.txt")));
    run->Command1_Click();
    EXPECT_FALSE(ov::test::exists(dir.file("log.txt")));
}

TEST_F(FakeVolumeRun, AFailingLogIsStep40AndNothingIsWritten)
{
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(dir.file("log.txt"))));
    log = std::make_unique<ov::OperationLog>(dir.file("log.txt")); // a folder: cannot append
    settings.LogOperations = true;
    makeVolume(3000000);
    run->Command1_Click();
    EXPECT_EQ(view.reportSteps, std::vector<int>({40}));
    EXPECT_EQ(largestSeen, 0);
    expectIdleAfterwards();
}

// Sets or clears the immutable flag of a file or folder; false where the file system or the
// privilege does not allow it.
bool setImmutable(const QByteArray& path, bool on)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

TEST_F(FakeVolumeRun, AFailingWriteIsReportedOnceAndEndsTheRun)
{
    makeVolume(30000000);
    bool locked = false;
    loop.onYield = [&] {
        // After the first write the file turns immutable: the next write fails (EPERM),
        // and so does the deletion afterwards; only the first failure is shown.
        if (!locked && tempBytes() > 0)
            locked = setImmutable(tempFile(), true);
    };
    run->Command1_Click();
    setImmutable(tempFile(), false);
    QFile::remove(QFile::decodeName(tempFile()));
    if (!locked)
        GTEST_SKIP() << "the temporary file cannot be made immutable here";
    EXPECT_EQ(view.reportSteps, std::vector<int>({0})) << "a write failing at a block's start";
    EXPECT_TRUE(view.reports[0].contains("Operation not permitted"))
        << view.reports[0].toStdString();
    EXPECT_EQ(run->lastOutcome(), FreeSpaceRun::Outcome::Failed);
    EXPECT_TRUE(view.driveListEnabled);
    EXPECT_FALSE(view.stopInFront);
    EXPECT_TRUE(view.startEnabled);
}

TEST_F(FakeVolumeRun, AFileThatCannotBeDeletedIsReportedNotDone)
{
    makeVolume(3000000);
    bool locked = false;
    loop.onYield = [&] {
        // Once the file is there, its folder is made immutable: it cannot go any more.
        if (!locked && tempBytes() > 0)
            locked = setImmutable(folder(), true);
    };
    run->Command1_Click();
    setImmutable(folder(), false);
    if (!locked)
        GTEST_SKIP() << "the temporary folder cannot be made immutable here";
    EXPECT_EQ(view.reportSteps, std::vector<int>({80}));
    EXPECT_TRUE(view.reports[0].contains(QString::fromUtf8(tempFile())));
    EXPECT_NE(view.status, "Done");
    EXPECT_EQ(run->lastOutcome(), FreeSpaceRun::Outcome::Failed);
    EXPECT_TRUE(view.driveListEnabled);
    EXPECT_FALSE(view.stopInFront);
    EXPECT_FALSE(run->isRunning());
    QFile::remove(QFile::decodeName(tempFile()));
}

} // namespace
