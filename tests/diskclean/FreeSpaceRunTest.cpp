// The free-space run on made-up volumes whose free space shrinks as the file grows, and
// on small real volumes (root only).
#include "diskclean/RunFixtures.h"
#include "drive/FakeVolumes.h"
#include "platform/Files.h"
#include "support/LoopMount.h"
#include "support/Tmpfs.h"

#include <QFileInfo>

#include <map>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>

using ov::FreeSpaceRun;
using Outcome = ov::FreeSpaceRun::Outcome;
using ov::test::exists;
using ov::test::readFile;
using ov::test::RealRun;
using ov::test::RecordingView;
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
        view = RecordingView();
        view.designator = folder();
        run = std::make_unique<FreeSpaceRun>(*info, view, loop, stop, settings, log.get());
        return volume;
    }
    void expectIdle()
    {
        EXPECT_FALSE(run->isRunning());
        EXPECT_FALSE(view.stopInFront);
        EXPECT_TRUE(view.startEnabled);
        EXPECT_TRUE(view.driveListEnabled);
        EXPECT_FALSE(stop.requested()) << "a stop asked for belongs to its run only";
        EXPECT_EQ(tempBytes(), 0);
    }
    // The status of a failed run says so, with what failed.
    void expectFailedStatus(const QString& reason)
    {
        EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
        EXPECT_EQ(view.status, "Failed: " + reason);
    }

    ov::test::TempDir dir;
    ov::test::FakeVolumes volumes;
    ov::test::RecordingRunner loop;
    RecordingView view;
    ov::Settings settings;
    ov::StopChannel stop;
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

// A volume that allocates whole units: what is free shrinks a unit at a time.
std::int64_t freeOnUnits(std::int64_t start, std::int64_t unit, std::int64_t fileSize)
{
    return start - (fileSize + unit - 1) / unit * unit;
}

TEST(DiskRunPieces, CyclesAppendWhatABlockByBlockRunWouldAndTheLastMegabyteInAFewWrites)
{
    for (const std::int64_t unit : {1, 512, 4096, 65536, 1 << 20}) {
        // A leftover of a killed run: a file that does not end at a unit's end.
        for (const std::int64_t leftover : {0, 1000}) {
            for (const std::int64_t start : {9999LL, 10000LL, 10911LL, 10912LL, 14096LL, 74095LL,
                                             1058576LL, 1058577LL, 50000123LL, 300000000LL}) {
                SCOPED_TRACE(::testing::Message() << "unit " << unit << ", leftover " << leftover
                                                  << ", " << start << " free");
                std::int64_t blockByBlock = leftover;
                while (freeOnUnits(start, unit, blockByBlock) >= FreeSpaceRun::kEndThreshold)
                    blockByBlock += FreeSpaceRun::kBlockSize;
                std::int64_t size = leftover;
                int lastMegabyte = 0; // cycles begun within 1 MiB of the threshold
                for (std::int64_t free; (free = freeOnUnits(start, unit, size)) >= 10000;) {
                    size += FreeSpaceRun::cycleBlocks(free, unit, size) * FreeSpaceRun::kBlockSize;
                    lastMegabyte += free - 10000 < (1 << 20);
                }
                EXPECT_EQ(size, blockByBlock);
                EXPECT_LE(lastMegabyte, 8);
            }
        }
    }
    EXPECT_EQ(FreeSpaceRun::cycleBlocks(std::int64_t(1) << 40, 4096, 0) * 912,
              FreeSpaceRun::kCycleBytes);
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
        {50000123, nullptr, nullptr}, // cycles of many blocks, then fewer
    };
    for (auto [free, cleaned, left] : rows) {
        makeVolume(free);
        run->run();
        const std::int64_t blocks = free < 10000 ? 0 : (free - 10000) / 912 + 1;
        EXPECT_EQ(largestSeen, blocks * 912) << free;
        EXPECT_EQ(run->cleanedBytes(), blocks * 912) << free;
        EXPECT_EQ(run->lastFreeBytes(), free - blocks * 912) << "the figure left at the end";
        EXPECT_EQ(view.statusHistory,
                  QStringList({"Preparing...", "Preparation Done !", "Working...", "Done"}));
        EXPECT_EQ(view.stackHistory, std::vector<bool>({true, false}));
        if (cleaned) {
            EXPECT_EQ(view.cleaned, cleaned);
            EXPECT_EQ(view.left, left);
        }
        EXPECT_TRUE(view.reports.isEmpty());
        EXPECT_TRUE(view.unreached.isEmpty());
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
    run->run();
    const QByteArray line = readFile(logFile);
    EXPECT_TRUE(line.endsWith("] : Cleaning Free Space on drive " + folder() + "\r\n"));
    EXPECT_EQ(line.count('\n'), 1);

    // A log that cannot be appended to (a folder): step 40, nothing written.
    ASSERT_TRUE(::unlink(logFile.constData()) == 0 && ::mkdir(logFile.constData(), 0700) == 0);
    makeVolume(3000000);
    run->run();
    EXPECT_EQ(view.reportSteps, std::vector<int>({40}));
    EXPECT_EQ(largestSeen, 0);
    expectFailedStatus("Is a folder, not a regular file");
    expectIdle();
    settings.LogOperations = false;

    makeVolume(1000000).space.reset();
    run->run();
    EXPECT_TRUE(view.reports.isEmpty()) << "a volume that does not answer gets nothing";
    EXPECT_EQ(view.status, "Done");
    expectIdle();

    // StillSpace's query answers; the one inside UpdateScreen overflows: step 51.
    int calls = 0;
    makeVolume(0).freeBytes = [&] { return ++calls == 1 ? 5000000 : std::uint64_t(1) << 62; };
    run->run();
    EXPECT_EQ(view.reportSteps, std::vector<int>({51}));
    expectFailedStatus("Overflow: the volume reports more bytes than can be counted");
    expectIdle();

    // 2^31 free bytes in 32-bit cluster counts: step 0, the run's end steps, no "Done".
    volumes.extended = false;
    makeVolume(0).clusters = ov::ClusterFigures{64, 512, 0x10000, 100};
    run->run();
    ASSERT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(view.reports[0].startsWith(ov::errorReportText(0) + "\n"));
    expectFailedStatus("Overflow: the volume reports more bytes than can be counted");
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
        run->run();
        loop.onYield = nullptr;
        EXPECT_TRUE(broken);
        EXPECT_GT(largestSeen, 0) << overflow;
        EXPECT_EQ(run->cleanedBytes(), largestSeen) << "what was written, though deleted";
        ASSERT_EQ(view.reportSteps, std::vector<int>({0})) << overflow;
        EXPECT_TRUE(view.reports[0].contains(overflow ? QStringLiteral("Overflow")
                                                      : QString::fromUtf8(folder()) +
                                                            ": The volume no longer answers"))
            << view.reports[0].toStdString();
        expectFailedStatus(
            overflow ? QStringLiteral("Overflow: the volume reports more bytes than can be counted")
                     : QStringLiteral("The volume no longer answers"));
        expectIdle();
    }
}

TEST_F(DiskRunFake, AStopEndsTheRunAfterTheWriteInHandAndNoSecondRunStartsMeanwhile)
{
    // A stop while the run still prepares is not lost: nothing is written.
    makeVolume(300000000);
    loop.onYield = [&] {
        if (view.status == "Preparation Done !")
            run->requestStop();
    };
    run->run();
    EXPECT_EQ(largestSeen, 0);
    EXPECT_EQ(run->lastOutcome(), Outcome::Stopped);
    EXPECT_EQ(view.cleaned, "0 Cleaned");
    expectIdle();

    // Asked in the middle of a cycle (from another thread, as a signal would): one more
    // write at most.
    makeVolume(300000000);
    std::int64_t sizeAtStop = 0;
    loop.onYield = [&] {
        if (sizeAtStop == 0)
            return;
        // A click on the start button while the stopped run finishes: nothing.
        const QStringList before = view.statusHistory;
        EXPECT_FALSE(view.startEnabled);
        EXPECT_FALSE(run->DriveWorking());
        run->run();
        EXPECT_EQ(view.statusHistory, before);
    };
    loop.onBlocking = [&] {
        if (sizeAtStop == 0 && tempBytes() >= (3 << 20)) {
            sizeAtStop = tempBytes();
            EXPECT_TRUE(run->DriveWorking());
            run->requestStop();
            EXPECT_FALSE(view.stopInFront) << "the start button is in front at once";
        }
    };
    run->run();
    loop.onBlocking = nullptr;
    ASSERT_GT(sizeAtStop, 0);
    EXPECT_LE(largestSeen, sizeAtStop + FreeSpaceRun::kWriteBytes)
        << "no write after the one in hand";
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
    run->run();
    EXPECT_EQ(content, QByteArray(1000, 'L') + FreeSpaceRun::fillerBlock());
    EXPECT_EQ(view.cleaned, "1.87 KB\r\nCleaned");
    expectIdle();

    // On a full volume too, the further files of a killed run included.
    loop.onYield = nullptr;
    writeFile(tempFile(), QByteArray(4000, 'L'));
    writeFile(tempFile(1), QByteArray(10, 'L'));
    makeVolume(0);
    run->run();
    expectIdle();

    // But a planted link, a second name of another file, or another user's file is
    // refused untouched, and left where it is.
    ov::test::TempDir elsewhere;
    const QByteArray target = elsewhere.file("precious.txt");
    const QByteArray beside = dir.file("precious.txt");
    writeFile(target, "keep me");
    writeFile(beside, "keep me");
    ASSERT_EQ(::symlink(target.constData(), tempFile().constData()), 0);
    for (const char* kind : {"symbolic link", "hard link"}) {
        makeVolume(5000000);
        run->run();
        ASSERT_EQ(view.reportSteps, std::vector<int>({0})) << kind;
        EXPECT_TRUE(view.reports[0].contains(QString::fromUtf8(tempFile()))) << kind;
        EXPECT_EQ(readFile(target), "keep me") << kind;
        EXPECT_EQ(readFile(beside), "keep me") << kind;
        EXPECT_TRUE(exists(tempFile())) << kind << ": someone else's name is left where it is";
        EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
        ASSERT_EQ(::unlink(tempFile().constData()), 0);
        ASSERT_EQ(::link(beside.constData(), tempFile().constData()), 0);
    }
    ASSERT_TRUE(view.reports[0].contains("Has other names (hard links)"))
        << view.reports[0].toStdString();
    ASSERT_EQ(::unlink(tempFile().constData()), 0);

    // A further file of a killed run, beyond this run's own names, with other names: left
    // alone as a link is, which is no failure of this run.
    ASSERT_EQ(::link(beside.constData(), tempFile(1).constData()), 0);
    makeVolume(11000);
    run->run();
    EXPECT_TRUE(view.reports.isEmpty()) << view.reports.join("|").toStdString();
    EXPECT_EQ(view.status, "Done");
    EXPECT_EQ(readFile(beside), "keep me");
    EXPECT_TRUE(exists(tempFile(1)));
    ASSERT_EQ(::unlink(tempFile(1).constData()), 0);

    if (!ov::test::runningAsRoot())
        GTEST_SKIP() << "giving a file away needs root";
    writeFile(tempFile(), "theirs");
    ASSERT_EQ(::chown(tempFile().constData(), 12345, 12345), 0);
    makeVolume(5000000);
    run->run();
    EXPECT_EQ(view.reportSteps, std::vector<int>({0}));
    EXPECT_EQ(readFile(tempFile()), "theirs");
}

TEST_F(DiskRunFake, ATemporaryFileSwappedDuringTheRunIsLeftAloneAndTheFailureTold)
{
    // Someone moves the filler away and puts a file of theirs under its name.
    makeVolume(300000000);
    const QByteArray moved = dir.file("moved.dat");
    loop.onYield = [&] {
        if (!exists(moved) && tempBytes() > 0) {
            ASSERT_EQ(::rename(tempFile().constData(), moved.constData()), 0);
            writeFile(tempFile(), "theirs");
            run->requestStop();
        }
    };
    run->run();
    EXPECT_EQ(readFile(tempFile()), "theirs") << "the file in its place is not deleted";
    ASSERT_EQ(view.reportSteps, std::vector<int>({55}));
    EXPECT_TRUE(view.reports[0].contains(QString::fromUtf8(tempFile()) + ": Was moved or replaced"))
        << view.reports[0].toStdString();
    EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
    EXPECT_TRUE(view.status.startsWith("Failed: Was moved or replaced"));
    EXPECT_GT(QFileInfo(QFile::decodeName(moved)).size(), 0) << "the filler, not deleted";
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
    makeVolume(300000000);
    bool locked = false;
    loop.onYield = [&] { locked = locked || (tempBytes() > 0 && setImmutable(tempFile(), true)); };
    run->run();
    setImmutable(tempFile(), false);
    ::unlink(tempFile().constData());
    if (!locked)
        GTEST_SKIP() << "the temporary file cannot be made immutable here";
    ASSERT_EQ(view.reportSteps, std::vector<int>({0})) << "a write failing at a block's start";
    EXPECT_TRUE(view.reports[0].contains("Operation not permitted"));
    expectFailedStatus("Operation not permitted");
    expectIdle();

    // The folder turns immutable: the file cannot go, which is no "Done", and what was
    // written (and is still there) is still counted.
    makeVolume(3000000);
    locked = false;
    loop.onYield = [&] { locked = locked || (tempBytes() > 0 && setImmutable(folder(), true)); };
    run->run();
    const std::int64_t left = tempBytes();
    setImmutable(folder(), false);
    EXPECT_EQ(view.reportSteps, std::vector<int>({80}));
    ASSERT_EQ(view.reports.size(), 1);
    EXPECT_TRUE(view.reports[0].contains(QString::fromUtf8(tempFile())));
    // What stays is named with its size.
    expectFailedStatus("Operation not permitted; the filler could not be deleted and takes " +
                       ov::CDriveInfo::FormatSize(left, true) + " of the volume: delete it");
    EXPECT_GT(left, 0);
    EXPECT_EQ(run->cleanedBytes(), left);
    EXPECT_FALSE(run->isRunning());
    EXPECT_TRUE(view.driveListEnabled);
    ::unlink(tempFile().constData());
}

TEST_F(DiskRunFake, WhatTheFillCannotReachIsToldAtTheEnd)
{
    // A user who may not fill the administrator's reserve, on a volume with snapshots.
    volumes.administrator = false;
    auto& volume = makeVolume(5000000);
    volume.space->freeBytes = 3145728; // the reserve: free minus available
    volume.space->availableBytes = 0;
    volume.snapshots = {"/@snapshots/1/snapshot", "/@snapshots/2/snap shot"};
    run->run();
    EXPECT_EQ(run->lastOutcome(), Outcome::Finished);
    EXPECT_EQ(view.unreached,
              QStringList({"Not reached: 3.00 MB (3,145,728 bytes) that the volume keeps back "
                           "from users other than the administrator; deleted data there "
                           "survives. Cleaning as administrator (root) reaches most of it.",
                           "Not reached: files deleted since the snapshots "
                           "/@snapshots/1/snapshot, '/@snapshots/2/snap shot' were taken, "
                           "which keep them. Delete the snapshots, then clean the free "
                           "space again."}));
    EXPECT_EQ(run->unreached(), view.unreached);

    // One snapshot; the administrator, who fills the reserve.
    volumes.administrator = true;
    volumes.volumes.begin()->second.snapshots = {"/snap"};
    run->run();
    EXPECT_EQ(view.unreached,
              QStringList({"Not reached: files deleted since the snapshot /snap was taken, "
                           "which keeps them. Delete the snapshot, then clean the free space "
                           "again."}));
    // A stopped run tells it too; a failed one tells its failure only.
    loop.onYield = [&] { run->requestStop(); };
    run->run();
    EXPECT_EQ(run->lastOutcome(), Outcome::Stopped);
    EXPECT_EQ(view.unreached.size(), 1);
    loop.onYield = nullptr;
    volumes.volumes.begin()->second.freeBytes = [] { return std::uint64_t(1) << 62; };
    run->run();
    EXPECT_EQ(run->lastOutcome(), Outcome::Failed);
    EXPECT_TRUE(view.unreached.isEmpty());
}

TEST(DiskRunMounted, FillsToTheEndAndEfbigGoesOnInFurtherFilesOfWholeBlocks)
{
    for (bool sizeLimit : {false, true}) {
        QString why;
        auto mount = ov::test::LoopMount::create("ext4", 8 << 20, &why);
        if (!mount)
            GTEST_SKIP() << why.toStdString();
        // A 1 MiB file-size limit stands in for FAT32's 4 GiB; the programs keep SIGXFSZ
        // from killing the process, so the writes get EFBIG.
        ov::fs::ignoreFileSizeLimitSignal();
        struct rlimit saved, limit;
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        limit = saved;
        limit.rlim_cur = sizeLimit ? 1 << 20 : saved.rlim_cur;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

        RealRun real(mount->mountPoint());
        const std::int64_t freeBefore = real.info.AvailableSpace();
        // Each file's content, as last seen before a blocking call.
        std::map<int, QByteArray> contents;
        real.loop.onBlocking = [&] {
            for (int index = 0; index < 8; ++index) {
                if (exists(real.tempFile(index)))
                    contents[index] = readFile(real.tempFile(index));
            }
        };
        real.run.run();
        ::setrlimit(RLIMIT_FSIZE, &saved);

        real.expectCleanEnd(Outcome::Finished);
        std::set<int> seen;
        for (const auto& [index, content] : contents) {
            seen.insert(index);
            // Every file begins with a whole block: a block cut at the largest file size
            // goes again from its start in the next file.
            const QByteArray filler =
                FreeSpaceRun::fillerBlock().repeated(content.size() / 912 + 1);
            EXPECT_TRUE(content == filler.left(content.size())) << "file " << index;
        }
        const int files = int((real.run.cleanedBytes() + (1 << 20) - 1) >> 20);
        EXPECT_EQ(int(seen.size()), sizeLimit ? files : 1);
        EXPECT_EQ(*seen.rbegin(), int(seen.size()) - 1) << "one file after the other";
        if (sizeLimit) {
            EXPECT_EQ(contents[0].size(), 1 << 20) << "the first file up to the limit";
        }
        EXPECT_GT(real.run.cleanedBytes(), freeBefore - (1 << 20));
        EXPECT_GT(real.info.AvailableSpace(), freeBefore - (64 << 10)) << "the filler is gone";
    }
}

TEST(DiskRunMounted, AReadOnlyVolumeIsReportedAndOneNotThereGetsNothing)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 32 << 20, &why, "ro");
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    RealRun readOnly(mount->mountPoint());
    readOnly.run.run();
    ASSERT_EQ(readOnly.view.reportSteps, std::vector<int>({33}));
    EXPECT_TRUE(readOnly.view.reports[0].contains(QFile::decodeName(mount->mountPoint()) +
                                                  ": Read-only file system"))
        << readOnly.view.reports[0].toStdString();
    EXPECT_EQ(readOnly.run.lastOutcome(), Outcome::Failed);
    EXPECT_EQ(readOnly.view.status, "Failed: Read-only file system");
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
    real.run.run();
    real.expectCleanEnd(Outcome::Finished);
    EXPECT_EQ(real.run.cleanedBytes(), 0);
    EXPECT_TRUE(QDir(QFile::decodeName(tmpfs.mountPoint())).isEmpty());

    // Unmounted while the filler is written: a failure, not a full volume.
    auto leaving = ov::test::LoopMount::create("ext4", 32 << 20, &why);
    ASSERT_TRUE(leaving);
    RealRun cut(leaving->mountPoint());
    bool detached = false;
    cut.loop.onYield = [&] {
        if (!detached && exists(cut.tempFile()))
            detached =
                ov::test::runTool(QStringLiteral("umount"),
                                  {QStringLiteral("-l"), QFile::decodeName(leaving->mountPoint())});
    };
    cut.run.run();
    EXPECT_TRUE(detached);
    ASSERT_EQ(cut.view.reportSteps, std::vector<int>({0}));
    EXPECT_TRUE(cut.view.reports[0].contains("The volume no longer answers"));
    EXPECT_EQ(cut.run.lastOutcome(), Outcome::Failed);
    EXPECT_EQ(cut.view.status, "Failed: The volume no longer answers");
    EXPECT_TRUE(cut.view.driveListEnabled);
    EXPECT_FALSE(cut.run.isRunning());

    RealRun missing("/no/such/volume");
    EXPECT_FALSE(missing.info.Present());
    missing.run.run();
    missing.expectCleanEnd(Outcome::Finished);
}

} // namespace
