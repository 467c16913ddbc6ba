// The names of deleted files on small real file systems (root only): what a recovery tool
// finds of them in the raw image, and what the free-space run tells it could not reach.
#include "diskclean/NameCleaner.h"
#include "diskclean/RunFixtures.h"
#include "platform/FillPlace.h"
#include "support/Child.h"
#include "support/LoopMount.h"
#include "support/Tmpfs.h"

#include <optional>
#include <sys/stat.h>

using ov::FreeSpaceRun;
using ov::NameCleaner;
using Outcome = ov::FreeSpaceRun::Outcome;
using ov::test::countOccurrences;
using ov::test::exists;
using ov::test::RealRun;
using ov::test::syncVolume;

namespace {

struct Kind
{
    const char* name;
    int megabytes;
    int nodeBytes = 0; // btrfs: the size of a metadata block, when not the usual
};

void PrintTo(const Kind& kind, std::ostream* out)
{
    *out << kind.name << ", " << kind.megabytes << " MiB";
}

std::string kindName(const ::testing::TestParamInfo<Kind>& info)
{
    return info.param.name + (info.param.nodeBytes ? std::to_string(info.param.nodeBytes) : "");
}

// Names nothing else on a fresh volume holds.
QList<QByteArray> distinctiveNames()
{
    QList<QByteArray> names;
    for (int i = 0; i < 24; ++i)
        names << "divorce-lawyer-2026-" + QByteArray::number(i) + "-q7x.pdf";
    return names;
}

// A folder of files, each overwritten, flushed and deleted on its own, as a wipe does:
// every delete commits the folder with the names still to go.
void wipeFolder(const QByteArray& folder)
{
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    for (const QByteArray& name : distinctiveNames())
        ov::test::writeFile(folder + "/" + name, QByteArray(6000, 'a'));
    syncVolume(folder);
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    for (const QByteArray& name : distinctiveNames()) {
        ov::test::writeFile(folder + "/" + name, QByteArray(6000, 0));
        ASSERT_EQ(::unlinkat(dir, name.constData(), 0), 0);
        ::fsync(dir);
    }
    ::close(dir);
    syncVolume(folder);
}

// Copies of the names in the image, all names together.
long long copiesIn(const QByteArray& image)
{
    long long copies = 0;
    for (const QByteArray& name : distinctiveNames())
        copies += countOccurrences(image, name);
    return copies;
}

class OnVolume : public ::testing::TestWithParam<Kind>
{
protected:
    void SetUp() override
    {
        QString why;
        const int node = GetParam().nodeBytes;
        mount = ov::test::LoopMount::create(
            GetParam().name, qint64(GetParam().megabytes) << 20, &why, {},
            node ? QStringList{"-n", QString::number(node)} : QStringList{});
        if (!mount)
            GTEST_SKIP() << why.toStdString();
        wipeFolder(mount->mountPoint() + "/private");
        // The names were there to be found: in the journal, the log or the metadata.
        ASSERT_GT(copiesIn(mount->imagePath()), 0);
    }
    std::unique_ptr<ov::test::LoopMount> mount;
};
class NamesStep : public OnVolume
{
};
class NamesInTheFreeSpaceRun : public OnVolume
{
};

TEST_P(NamesStep, LeavesNoCopyOfADeletedName)
{
    ov::InPlaceRunner runner;
    ov::StopChannel stop;
    bool stopped = true;
    const QStringList lines =
        NameCleaner::cleanVolume(mount->mountPoint() + "/private", runner, stop, &stopped);
    EXPECT_FALSE(stopped);
    ASSERT_EQ(lines.size(), 1) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].startsWith("Names of deleted files: written over in the "))
        << lines[0].toStdString();
    EXPECT_FALSE(exists(mount->mountPoint() + "/private/" + NameCleaner::kScratchName));
    ASSERT_TRUE(mount->unmount());
    EXPECT_EQ(copiesIn(mount->imagePath()), 0);
}

// The whole run: the filler, then the names, and what the file system kept back told.
TEST_P(NamesInTheFreeSpaceRun, LeavesNoCopyAndTellsWhatTheFillerCouldNotReach)
{
    QString output;
    ASSERT_TRUE(ov::test::runTool(
        QStringLiteral(OV_CLI_PATH),
        {QStringLiteral("clean-free-space"), QFile::decodeName(mount->mountPoint())}, &output))
        << output.toStdString();
    const std::string kind = GetParam().name;
    EXPECT_TRUE(output.contains("Names of deleted files: written over in the "))
        << output.toStdString();
    const char* reserve = kind == "xfs"    ? " that xfs keeps back for itself (its block reserve)"
                          : kind == "ext4" ? " that ext4 keeps back for its own bookkeeping"
                                           : " of metadata chunks, which keep names";
    EXPECT_TRUE(output.contains(reserve)) << output.toStdString();
    EXPECT_LT(output.indexOf("Done: "), output.indexOf(reserve)) << "under the summary";
    ASSERT_TRUE(mount->unmount());
    EXPECT_EQ(copiesIn(mount->imagePath()), 0);
}

// btrfs with small metadata blocks refuses attributes as large as the usual blocks hold.
INSTANTIATE_TEST_SUITE_P(DiskNames, NamesStep,
                         ::testing::Values(Kind{"ext4", 64}, Kind{"xfs", 300}, Kind{"btrfs", 256},
                                           Kind{"btrfs", 256, 4096}),
                         kindName);
INSTANTIATE_TEST_SUITE_P(DiskNames, NamesInTheFreeSpaceRun,
                         ::testing::Values(Kind{"ext4", 64}, Kind{"xfs", 300}, Kind{"btrfs", 256}),
                         kindName);

// A stop in the middle of the step ends it with its entries gone; the names may remain
// and the run says so.
TEST(DiskNames, AStopInTheMiddleLeavesNoTemporaryEntry)
{
    for (const char* kind : {"ext4", "btrfs"}) {
        SCOPED_TRACE(kind);
        QString why;
        auto mount = ov::test::LoopMount::create(kind, 256 << 20, &why);
        if (!mount)
            GTEST_SKIP() << why.toStdString();
        RealRun real(mount->mountPoint());
        bool seen = false;
        real.loop.onYield = [&] {
            if (real.run.namesPercent() > 0 && !seen) {
                seen = true;
                EXPECT_TRUE(exists(mount->mountPoint() + "/" + NameCleaner::kScratchName));
                real.run.requestStop();
            }
        };
        real.run.run();
        EXPECT_TRUE(seen);
        real.expectCleanEnd(Outcome::Stopped);
        EXPECT_FALSE(exists(mount->mountPoint() + "/" + NameCleaner::kScratchName));
        EXPECT_TRUE(real.view.unreached.contains(
            "Names of deleted files may remain: the step that writes over them was stopped."))
            << real.view.unreached.join('|').toStdString();
    }
}

// A volume in memory keeps nothing of what was deleted once the memory is used again:
// not filled, and the run says why.
TEST(DiskNames, AVolumeInMemoryIsNotFilled)
{
    ov::test::Tmpfs tmpfs(64 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    RealRun real(tmpfs.mountPoint());
    real.run.run();
    real.expectCleanEnd(Outcome::Finished);
    EXPECT_EQ(real.run.cleanedBytes(), 0);
    ASSERT_EQ(real.view.unreached.size(), 1);
    EXPECT_TRUE(real.view.unreached[0].startsWith("Not filled: ") &&
                real.view.unreached[0].contains("lives in memory"))
        << real.view.unreached[0].toStdString();
}

// Two runs on one volume would fill the same free space and each count it as its own,
// whichever folders they fill from.
TEST(DiskNames, ASecondRunIsRefusedNamingTheFirst)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 64 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    const QByteArray elsewhere = mount->mountPoint() + "/elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.constData(), 0755), 0);
    const QByteArray program = ov::test::readFile("/proc/self/comm").trimmed();
    std::optional<ov::fillplace::RunLock> first(ov::fillplace::RunLock::take(elsewhere, true));
    RealRun real(mount->mountPoint());
    real.run.run();
    EXPECT_EQ(real.run.lastOutcome(), Outcome::Failed);
    ASSERT_EQ(real.view.reports.size(), 1);
    EXPECT_TRUE(real.view.reports[0].contains("Another free-space run is filling this volume "
                                              "(process " +
                                              QString::number(::getpid()) + ", " + program + ")"))
        << real.view.reports[0].toStdString();
    EXPECT_FALSE(exists(real.tempFile()));
    // Once the first ends, the volume is free again.
    first.reset();
    EXPECT_NO_THROW(ov::fillplace::RunLock::take(mount->mountPoint(), true));
}

// An ordinary user fills from the folder it names when the volume's top folder is root's,
// and the leftover of a run that never ended is named with its size and the advice.
TEST(DiskNames, AUserCleansAVolumeWhoseTopFolderIsRoots)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 64 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    const QByteArray parent = mount->mountPoint().left(mount->mountPoint().lastIndexOf('/'));
    ASSERT_EQ(::chmod(parent.constData(), 0755), 0);
    ASSERT_EQ(::chmod(mount->mountPoint().constData(), 0755), 0);
    const QByteArray home = mount->mountPoint() + "/home";
    ASSERT_EQ(::mkdir(home.constData(), 0700), 0);
    ASSERT_EQ(::chown(home.constData(), 65534, 65534), 0);
    wipeFolder(home + "/private");
    ASSERT_EQ(::chown((home + "/private").constData(), 65534, 65534), 0);
    ov::test::writeFile(home + "/" + FreeSpaceRun::tempFileName(1), QByteArray(5000, 'x'));
    ASSERT_EQ(::chown((home + "/" + FreeSpaceRun::tempFileName(1)).constData(), 65534, 65534), 0);

    ov::test::Child::Options asUser;
    asUser.user = 65534;
    ov::test::Child info({OV_CLI_PATH, "drive-info", home}, asUser);
    ASSERT_TRUE(info.wait());
    EXPECT_TRUE(info.out.contains("Left by a run that never ended: " + home +
                                  "/ovtempx1.dat (4.88 KB (5,000 bytes)). Clean the free space "
                                  "of this volume again"))
        << info.out.data() << info.err.data();

    ov::test::Child user({OV_CLI_PATH, "clean-free-space", home}, asUser);
    ASSERT_TRUE(user.wait());
    EXPECT_TRUE(user.exitedWith(0)) << user.err.data() << user.out.data();
    EXPECT_TRUE(user.out.contains("\nDone: ")) << user.out.data();
    EXPECT_TRUE(user.out.contains("Names of deleted files: written over in the journal"))
        << user.out.data();
    EXPECT_FALSE(exists(home + "/" + FreeSpaceRun::tempFileName(1))) << "the leftover went too";
    EXPECT_FALSE(exists(mount->mountPoint() + "/" + FreeSpaceRun::tempFileName(0)));
    ASSERT_TRUE(mount->unmount());
    EXPECT_EQ(copiesIn(mount->imagePath()), 0);
}

} // namespace
