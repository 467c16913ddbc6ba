// The free-space run on made-up volumes whose free space shrinks as the file grows, and
// on small real file systems (root only).
#include "diskclean/FreeSpaceRun.h"
#include "drive/FakeVolumes.h"
#include "platform/Files.h"
#include "platform/LinuxVolumes.h"
#include "support/LoopMount.h"
#include "support/RecordingHost.h"
#include "support/TempDir.h"
#include "support/Tmpfs.h"

#include <QFileInfo>
#include <QStringList>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using ov::FreeSpaceRun;
using Outcome = ov::FreeSpaceRun::Outcome;
using ov::test::exists;
using ov::test::readFile;
using ov::test::writeFile;

namespace {

// Stands in for the panel: remembers what the run showed.
class RecordingView : public ov::FreeSpaceView
{
public:
    QByteArray driveDesignator() const override { return designator; }
    void setStatusText(const QString& text) override { statusHistory << (status = text); }
    void setCleanedText(const QString& text) override { cleaned = text; }
    void setLeftText(const QString& text) override { left = text; }
    void setStopInFront(bool front) override { stackHistory.push_back(stopInFront = front); }
    void setStartEnabled(bool enabled) override { startEnabled = enabled; }
    void setDriveListEnabled(bool enabled) override { driveListEnabled = enabled; }
    void showErrorReport(int step, const QString& text) override
    {
        reportSteps.push_back(step);
        reports << text;
    }

    QByteArray designator;
    QString status, cleaned, left;
    QStringList statusHistory;
    std::vector<bool> stackHistory;
    bool stopInFront = false, startEnabled = true, driveListEnabled = true;
    std::vector<int> reportSteps;
    QStringList reports;
};

// The run with the real volume queries, pointed at one mount point.
struct RealRun
{
    explicit RealRun(const QByteArray& mountPoint)
    {
        info.setRootPath(mountPoint);
        view.designator = mountPoint;
    }
    QByteArray tempFile(int index = 0) const
    {
        return view.designator + "/" + FreeSpaceRun::tempFileName(index);
    }
    // Ended as asked, nothing reported, the controls back, no temporary file left.
    void expectCleanEnd(FreeSpaceRun::Outcome outcome)
    {
        EXPECT_TRUE(view.reports.isEmpty()) << view.reports.join("|").toStdString();
        EXPECT_EQ(run.lastOutcome(), outcome);
        EXPECT_EQ(view.status, "Done");
        EXPECT_FALSE(view.stopInFront);
        EXPECT_TRUE(view.driveListEnabled);
        for (int index = 0; index < 8; ++index)
            EXPECT_FALSE(exists(tempFile(index))) << index;
    }

    ov::test::RecordingHost loop;
    ov::LinuxVolumes volumes{loop};
    ov::CDriveInfo info{volumes};
    RecordingView view;
    ov::Settings settings;
    FreeSpaceRun run{info, view, loop, settings, nullptr};
};

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
        view = RecordingView();
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
    ov::test::RecordingHost loop;
    RecordingView view;
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
    EXPECT_EQ(ov::errorReport(5, "/x: gone"), ov::errorReportText(5) + "\n/x: gone");
    EXPECT_EQ(ov::errorReport(5, QString()), ov::errorReportText(5)) << "no empty line";
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

TEST_F(DiskRunFake, LoggingNoAnswerOverflowsAndTheirSteps)
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
    ASSERT_TRUE(::unlink(logFile.constData()) == 0 && ::mkdir(logFile.constData(), 0700) == 0);
    makeVolume(3000000);
    run->Command1_Click();
    EXPECT_EQ(view.reportSteps, std::vector<int>({40}));
    EXPECT_EQ(largestSeen, 0);
    expectIdle();
    settings.LogOperations = false;

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

    // 2^31 free bytes in 32-bit cluster counts: step 0, the run's end steps, no "Done".
    volumes.extended = false;
    makeVolume(0).clusters = ov::ClusterFigures{64, 512, 0x10000, 100};
    run->Command1_Click();
    ASSERT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(view.reports[0].startsWith(ov::errorReportText(0) + "\n"));
    EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
    EXPECT_NE(view.status, "Done");
    expectIdle();
    volumes.extended = true;
}

TEST_F(DiskRunFake, AVolumeThatFailsItsSpaceQueryMidRunIsAFailureNotAFullVolume)
{
    // Once the filler is on the volume: the query stops answering, or overflows.
    for (bool overflow : {false, true}) {
        auto& volume = makeVolume(30000000);
        auto shrinking = volume.freeBytes;
        bool broken = false;
        volume.freeBytes = [&, shrinking] {
            return broken && overflow ? std::uint64_t(1) << 62 : shrinking();
        };
        // After the first cycle's figures are on screen: the next query is StillSpace's.
        loop.onYield = [&] {
            if (!broken && tempBytes() > 0 && !view.left.startsWith("0 ")) {
                broken = true;
                if (!overflow)
                    volume.space.reset();
            }
        };
        run->Command1_Click();
        loop.onYield = nullptr;
        EXPECT_TRUE(broken);
        EXPECT_GT(largestSeen, 0) << overflow;
        ASSERT_EQ(view.reportSteps, std::vector<int>({0})) << overflow;
        EXPECT_TRUE(view.reports[0].contains(overflow ? QStringLiteral("Overflow")
                                                      : QString::fromUtf8(folder()) +
                                                            ": The volume no longer answers"))
            << view.reports[0].toStdString();
        EXPECT_EQ(run->lastOutcome(), Outcome::Failed) << overflow;
        EXPECT_NE(view.status, "Done") << overflow;
        expectIdle();
    }
}

TEST_F(DiskRunFake, StopEndsAfterTheCycleAndNoSecondRunStartsMeanwhile)
{
    // A Stop while the run still prepares is not lost: nothing is written.
    makeVolume(30000000);
    loop.onYield = [&] {
        if (view.status == "Preparation Done !")
            run->cmdStop_Click();
    };
    run->Command1_Click();
    EXPECT_EQ(largestSeen, 0);
    EXPECT_EQ(run->lastOutcome(), Outcome::Stopped);
    EXPECT_EQ(view.cleaned, "0 Cleaned");
    expectIdle();

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

TEST_F(DiskRunFake, LeftoverFilesAreAppendedToCountedAndDeletedButNotLinksOrOthersFiles)
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

    // But a planted link, or another user's file, is refused untouched.
    ov::test::TempDir elsewhere;
    const QByteArray target = elsewhere.file("precious.txt");
    writeFile(target, "keep me");
    ASSERT_EQ(::symlink(target.constData(), tempFile().constData()), 0);
    makeVolume(5000000);
    run->Command1_Click();
    ASSERT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(view.reports[0].contains(QString::fromUtf8(tempFile())));
    EXPECT_EQ(readFile(target), "keep me");
    EXPECT_TRUE(QFileInfo(tempFile()).isSymLink()) << "someone else's link is left where it is";
    EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
    expectIdle();

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

// Sets or clears the immutable flag; false where the file system or privilege refuses.
bool setImmutable(const QByteArray& path, bool on)
{
    return ov::test::runTool("chattr", {on ? "+i" : "-i", QFile::decodeName(path)});
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
    ::unlink(tempFile().constData());
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
    ::unlink(tempFile().constData());
}

void syncVolume(const QByteArray& mountPoint)
{
    const int fd = ::open(mountPoint.constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::syncfs(fd), 0);
    ::close(fd);
}

TEST(DiskRunMounted, TmpfsFillsToTheThresholdAndEfbigGoesOnInFurtherFiles)
{
    for (bool sizeLimit : {false, true}) {
        ov::test::Tmpfs tmpfs(4 << 20);
        if (!tmpfs.mounted())
            GTEST_SKIP() << "mounting a tmpfs needs root";
        // A 1 MiB file-size limit stands in for FAT32's 4 GiB; the programs keep SIGXFSZ
        // from killing the process, so the writes get EFBIG.
        ov::fs::ignoreFileSizeLimitSignal();
        struct rlimit saved, limit;
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        limit = saved;
        limit.rlim_cur = sizeLimit ? 1 << 20 : saved.rlim_cur;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

        RealRun real(tmpfs.mountPoint());
        std::set<int> seen;
        real.loop.onYield = [&] {
            for (int index = 0; index < 8; ++index) {
                if (exists(real.tempFile(index)))
                    seen.insert(index);
            }
        };
        real.run.Command1_Click();
        ::setrlimit(RLIMIT_FSIZE, &saved);

        real.expectCleanEnd(Outcome::Finished);
        EXPECT_EQ(seen, sizeLimit ? std::set<int>({0, 1, 2, 3}) : std::set<int>({0}));
        // A page at a time: the last block left two pages, the first figure below 10,000.
        EXPECT_EQ(real.view.left, "8.00 KB (8,192 bytes)\r\nLeft to clean");
        EXPECT_GT(real.run.cleanedBytes(), (4 << 20) - 10000 - 4 * 4096);
        EXPECT_EQ(real.info.FreeSpace(), 4 << 20) << "the filler is gone";
    }
}

// Leaves about `keep` bytes free by reserving the rest in one file (quick: no writing).
bool leaveFree(const QByteArray& mountPoint, qint64 keep)
{
    ov::DirectEngineHost loop;
    ov::LinuxVolumes volumes(loop);
    auto space = volumes.querySpaceEx(mountPoint + "/");
    const int fd = ::open((mountPoint + "/ballast").constData(), O_WRONLY | O_CREAT, 0600);
    const bool done = space && qint64(space->availableBytes) > keep && fd >= 0 &&
                      ::posix_fallocate(fd, 0, qint64(space->availableBytes) - keep) == 0 &&
                      ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

// What a recovery tool would find: a file deleted the ordinary way leaves its bytes in
// the free space until the wipe fills it, up to where the writes are refused (ENOSPC, or
// the blocks the file system keeps for itself), which is a normal end.
TEST(DiskRunMounted, Ext4XfsAndBtrfsFillUntilRefusedAndNoDeletedDataSurvives)
{
    const std::pair<const char*, int> types[] = {{"ext4", 48}, {"xfs", 300}, {"btrfs", 128}};
    const QByteArray marker = "<OV~forensic~marker~7Qz!k3#Pw9>\n";
    for (auto [type, megabytes] : types) {
        QString why;
        auto mount = ov::test::LoopMount::create(type, qint64(megabytes) << 20, &why);
        if (!mount)
            GTEST_SKIP() << type << ": " << why.toStdString();
        // 24 MiB left free, 8 MiB of which held a deleted file, on the disk first.
        ASSERT_TRUE(leaveFree(mount->mountPoint(), 24 << 20)) << type;
        const QByteArray secret = mount->mountPoint() + "/secret.bin";
        writeFile(secret, marker.repeated((8 << 20) / 32));
        ASSERT_TRUE(mount->unmount());
        ASSERT_GE(ov::test::countOccurrences(mount->imagePath(), marker), (8 << 20) / 32);
        ASSERT_TRUE(mount->remount());
        ASSERT_EQ(::unlink(secret.constData()), 0);
        // xfs and btrfs hand freed blocks back only once the volume is synced.
        syncVolume(mount->mountPoint());
        RealRun real(mount->mountPoint());
        const std::int64_t freeBefore = real.info.FreeSpace();
        real.run.Command1_Click();
        real.expectCleanEnd(Outcome::Finished);
        EXPECT_GT(real.run.cleanedBytes(), 16 << 20) << type;
        syncVolume(mount->mountPoint());
        EXPECT_GT(real.info.FreeSpace(), freeBefore - (1 << 20)) << type << ": the filler is gone";
        ASSERT_TRUE(mount->unmount());
        const long long left = ov::test::countOccurrences(mount->imagePath(), marker);
        EXPECT_LE(left * 32, 10000 + 4096) << type << ": " << left << " markers survived";
    }
}

TEST(DiskRunMounted, AReadOnlyVolumeIsReportedAndOneNotThereGetsNothing)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 32 << 20, &why, "ro");
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    RealRun readOnly(mount->mountPoint());
    readOnly.run.Command1_Click();
    ASSERT_EQ(readOnly.view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(readOnly.view.reports[0].contains(QFile::decodeName(readOnly.tempFile()) +
                                                  ": Read-only file system"))
        << readOnly.view.reports[0].toStdString();
    EXPECT_EQ(readOnly.run.lastOutcome(), Outcome::Failed);
    EXPECT_TRUE(readOnly.view.driveListEnabled);
    EXPECT_FALSE(readOnly.view.stopInFront);

    // Volumes that are not there get nothing.
    ov::test::Tmpfs tmpfs(1 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    RealRun real(tmpfs.mountPoint());
    ASSERT_TRUE(real.info.Present());
    // Lazily unmounted: what is left is an empty folder of the volume around it.
    tmpfs.detach();
    real.run.Command1_Click();
    real.expectCleanEnd(Outcome::Finished);
    EXPECT_EQ(real.run.cleanedBytes(), 0);
    EXPECT_TRUE(QDir(QFile::decodeName(tmpfs.mountPoint())).isEmpty());

    // Unmounted while the filler is written: a failure, not a full volume.
    ov::test::Tmpfs leaving(8 << 20);
    ASSERT_TRUE(leaving.mounted());
    RealRun cut(leaving.mountPoint());
    cut.loop.onYield = [&] {
        if (leaving.mounted() && exists(cut.tempFile()))
            leaving.detach();
    };
    cut.run.Command1_Click();
    EXPECT_FALSE(leaving.mounted());
    ASSERT_EQ(cut.view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(cut.view.reports[0].contains("The volume no longer answers"));
    EXPECT_EQ(cut.run.lastOutcome(), Outcome::Failed);
    EXPECT_NE(cut.view.status, "Done");
    EXPECT_TRUE(cut.view.driveListEnabled);
    EXPECT_FALSE(cut.run.isRunning());

    RealRun missing("/no/such/volume");
    EXPECT_FALSE(missing.info.Present());
    missing.run.Command1_Click();
    missing.expectCleanEnd(Outcome::Finished);
}

} // namespace
