// The run against volumes made up by the test: a real folder for the temporary file,
// free space that the test decides and that shrinks as the file grows.
#include "diskclean/RecordingView.h"
#include "drive/FakeVolumes.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using ov::FreeSpaceRun;
using Outcome = ov::FreeSpaceRun::Outcome;
using ov::test::exists;
using ov::test::readFile;
using ov::test::writeFile;

namespace {

class DiskRunFake : public ::testing::Test
{
protected:
    QByteArray folder() const { return dir.path(); }
    QByteArray tempFile(int index = 0) const { return dir.file(FreeSpaceRun::tempFileName(index)); }
    std::int64_t tempBytes() const
    {
        std::int64_t total = 0;
        for (int index = 0; index < 4; ++index) {
            struct stat st;
            if (::lstat(tempFile(index).constData(), &st) == 0 && S_ISREG(st.st_mode))
                total += st.st_size;
        }
        return total;
    }

    // A fresh volume, view and run; the volume's free space shrinks as the files grow.
    ov::test::FakeVolumes::Volume& makeVolume(std::int64_t freeAtStart)
    {
        largestSeen = 0;
        auto& volume = volumes.add(folder() + "/", 1LL << 40, 0);
        volume.freeBytes = [this, freeAtStart] {
            largestSeen = std::max(largestSeen, tempBytes());
            return std::uint64_t(std::max<std::int64_t>(0, freeAtStart - tempBytes()));
        };
        info = std::make_unique<ov::CDriveInfo>(volumes);
        info->setRootPath(folder());
        view = ov::test::RecordingView();
        view.designator = folder();
        run = std::make_unique<FreeSpaceRun>(*info, view, loop, settings, log.get());
        return volume;
    }
    void expectIdle()
    {
        EXPECT_FALSE(run->isRunning());
        EXPECT_FALSE(view.stopInFront);
        EXPECT_TRUE(view.startEnabled);
        EXPECT_TRUE(view.driveListEnabled);
        EXPECT_EQ(tempBytes(), 0);
    }

    ov::test::TempDir dir;
    ov::test::FakeVolumes volumes;
    ov::test::RecordingLoop loop;
    ov::test::RecordingView view;
    ov::Settings settings;
    std::unique_ptr<ov::OperationLog> log;
    std::unique_ptr<ov::CDriveInfo> info;
    std::unique_ptr<FreeSpaceRun> run;
    std::int64_t largestSeen = 0;
};

TEST(DiskRunPieces, FillerBlockAndErrorReport)
{
    const QByteArray block = FreeSpaceRun::fillerBlock();
    ASSERT_EQ(block.size(), 912);
    const char bytes[6] = {'\x58', '\x30', '\xA7', '\xFF', '\x00', '\xFF'};
    for (int line = 0; line < 6; ++line)
        EXPECT_EQ(block.mid(line * 152, 152), QByteArray(150, bytes[line]) + "\r\n") << line;
    EXPECT_EQ(ov::errorReportText(44), "The error occured on line 44please email the line "
                                       "number to support@tallowbrookworks.example");
    // By the line of the block a write failed in: 1 -> 0, 2-3 -> 1, 4-5 -> 3, 6 -> 7.
    const std::pair<int, int> steps[] = {{0, 0},   {151, 0}, {152, 1}, {455, 1},
                                         {456, 3}, {759, 3}, {760, 7}, {911, 7}};
    for (auto [offset, step] : steps)
        EXPECT_EQ(FreeSpaceRun::writeStepAt(offset), step) << offset;
}

TEST_F(DiskRunFake, EndsBelowTheThresholdWhereBlockByBlockWouldEnd)
{
    // Free bytes at the start, then the labels at the end (nullptr: not looked at).
    const std::tuple<std::int64_t, const char*, const char*> rows[] = {
        {0, "0 Cleaned", "0 Left to clean"},
        {9999, "0 Cleaned", "0 Left to clean"},
        {10000, "912 bytes\r\nCleaned", "8.88 KB (9,088 bytes)\r\nLeft to clean"},
        {10911, nullptr, nullptr},
        {10912, nullptr, nullptr},
        {2000000, nullptr, nullptr},
        {50000123, nullptr, nullptr}, // batches of many blocks, then one at a time
    };
    for (auto [free, cleaned, left] : rows) {
        makeVolume(free);
        run->Command1_Click();
        const std::int64_t blocks = free < 10000 ? 0 : (free - 10000) / 912 + 1;
        EXPECT_EQ(largestSeen, blocks * 912) << free;
        EXPECT_EQ(view.statusHistory,
                  QStringList({"Preparing...", "Preparation Done !", "Working...", "Done"}));
        EXPECT_EQ(view.stackHistory, std::vector<bool>({true, false}));
        if (cleaned) {
            EXPECT_EQ(view.cleaned, cleaned);
            EXPECT_EQ(view.left, left);
        }
        EXPECT_TRUE(view.reports.isEmpty());
        EXPECT_EQ(run->lastOutcome(), Outcome::Finished);
        expectIdle();
    }
}

TEST_F(DiskRunFake, NoAnswerOverflowsAndTheirSteps)
{
    makeVolume(1000000).space.reset();
    run->Command1_Click();
    EXPECT_TRUE(view.reports.isEmpty()) << "a volume that does not answer gets nothing";
    EXPECT_EQ(view.status, "Done");
    expectIdle();

    // StillSpace's query answers; the one inside UpdateScreen overflows: step 51.
    int calls = 0;
    makeVolume(0).freeBytes = [&] { return ++calls == 1 ? 5000000 : std::uint64_t(1) << 62; };
    run->Command1_Click();
    EXPECT_EQ(view.reportSteps, std::vector<int>({51}));
    EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
    expectIdle();

    // 2^31 free bytes in 32-bit cluster counts: step 0, then a normal end.
    volumes.extended = false;
    makeVolume(0).clusters = ov::ClusterFigures{64, 512, 0x10000, 100};
    run->Command1_Click();
    ASSERT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(view.reports[0].startsWith(ov::errorReportText(0) + "\n"));
    EXPECT_EQ(view.status, "Done");
    expectIdle();
}

TEST_F(DiskRunFake, StopEndsAfterTheCycleAndNoSecondRunStartsMeanwhile)
{
    makeVolume(30000000);
    std::int64_t sizeAtStop = 0;
    loop.onYield = [&] {
        if (sizeAtStop > 0) {
            // A click on the start button while the stopped run finishes: nothing.
            const QStringList before = view.statusHistory;
            EXPECT_FALSE(view.startEnabled);
            run->Command1_Click();
            EXPECT_EQ(view.statusHistory, before);
        } else if (tempBytes() > 0) {
            sizeAtStop = tempBytes();
            run->cmdStop_Click();
            EXPECT_FALSE(view.stopInFront) << "the start button is in front at once";
        }
    };
    run->Command1_Click();
    EXPECT_GT(sizeAtStop, 0);
    EXPECT_LE(largestSeen, sizeAtStop + FreeSpaceRun::kMaxBatchBlocks * 912LL)
        << "no cycle after the one in progress";
    EXPECT_EQ(view.status, "Done");
    EXPECT_EQ(run->lastOutcome(), Outcome::Stopped);
    EXPECT_NE(view.cleaned, "0 Cleaned") << "the labels keep their last figures";
    expectIdle();
}

TEST_F(DiskRunFake, LeftoverFilesAreAppendedToCountedAndDeleted)
{
    writeFile(tempFile(), QByteArray(1000, 'L'));
    makeVolume(11000); // 10,000 free with the leftover: one more block
    QByteArray content;
    loop.onYield = [&] {
        if (content.isEmpty() && tempBytes() > 1000)
            content = readFile(tempFile());
    };
    run->Command1_Click();
    EXPECT_EQ(content, QByteArray(1000, 'L') + FreeSpaceRun::fillerBlock());
    EXPECT_EQ(view.cleaned, "1.87 KB\r\nCleaned");
    expectIdle();

    // On a full volume too, the further files of a killed run included.
    loop.onYield = nullptr;
    writeFile(tempFile(), QByteArray(4000, 'L'));
    writeFile(tempFile(1), QByteArray(10, 'L'));
    makeVolume(0);
    run->Command1_Click();
    expectIdle();
}

TEST_F(DiskRunFake, APlantedLinkOrAnotherUsersFileIsRefusedUntouched)
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
    EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
    EXPECT_FALSE(view.stopInFront);
    EXPECT_TRUE(view.driveListEnabled);

    if (!ov::test::runningAsRoot())
        GTEST_SKIP() << "giving a file away needs root";
    ASSERT_EQ(::unlink(tempFile().constData()), 0);
    writeFile(tempFile(), "theirs");
    ASSERT_EQ(::chown(tempFile().constData(), 12345, 12345), 0);
    makeVolume(5000000);
    run->Command1_Click();
    EXPECT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_EQ(readFile(tempFile()), "theirs");
}

TEST_F(DiskRunFake, LoggingOneLineOrStep40)
{
    const QByteArray logFile = dir.file("log.txt");
    log = std::make_unique<ov::OperationLog>(logFile);
    settings.LogOperations = true;
    makeVolume(3000000);
    run->Command1_Click();
    const QByteArray line = readFile(logFile);
    EXPECT_TRUE(line.endsWith("] : Cleaning Free Space on drive " + folder() + "\r\n"));
    EXPECT_EQ(line.count('\n'), 1);

    // A log that cannot be appended to (a folder): step 40, nothing written.
    QFile::remove(QFile::decodeName(logFile));
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(logFile)));
    makeVolume(3000000);
    run->Command1_Click();
    EXPECT_EQ(view.reportSteps, std::vector<int>({40}));
    EXPECT_EQ(largestSeen, 0);
    expectIdle();
}

// Sets or clears the immutable flag; false where the file system or privilege refuses.
bool setImmutable(const QByteArray& path, bool on)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

TEST_F(DiskRunFake, FailingWriteOnceAndUndeletableFileAsStep80)
{
    // After the first write the file turns immutable: the next write fails (EPERM) and
    // so does the deletion; only the first failure is shown.
    makeVolume(30000000);
    bool locked = false;
    loop.onYield = [&] { locked = locked || (tempBytes() > 0 && setImmutable(tempFile(), true)); };
    run->Command1_Click();
    setImmutable(tempFile(), false);
    QFile::remove(QFile::decodeName(tempFile()));
    if (!locked)
        GTEST_SKIP() << "the temporary file cannot be made immutable here";
    ASSERT_EQ(view.reportSteps, std::vector<int>({0})) << "a write failing at a block's start";
    EXPECT_TRUE(view.reports[0].contains("Operation not permitted"));
    EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
    expectIdle();

    // The folder turns immutable: the file cannot go, which is no "Done".
    makeVolume(3000000);
    locked = false;
    loop.onYield = [&] { locked = locked || (tempBytes() > 0 && setImmutable(folder(), true)); };
    run->Command1_Click();
    setImmutable(folder(), false);
    EXPECT_EQ(view.reportSteps, std::vector<int>({80}));
    ASSERT_EQ(view.reports.size(), 1);
    EXPECT_TRUE(view.reports[0].contains(QString::fromUtf8(tempFile())));
    EXPECT_NE(view.status, "Done");
    EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
    EXPECT_FALSE(run->isRunning());
    EXPECT_TRUE(view.driveListEnabled);
    QFile::remove(QFile::decodeName(tempFile()));
}

} // namespace
