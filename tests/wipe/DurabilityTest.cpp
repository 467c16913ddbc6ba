// A file counted as destroyed stays destroyed after a power cut at that very moment, and
// a wipe that fails has its overwriting on the disk when the failure is told. The disk
// keeps only what was flushed (PowerCutDisk); the snapshot is mounted as after a reboot.

#include "platform/Error.h"
#include "support/FuseMount.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"
#include "wipe/DeletionRun.h"
#include "wipe/WipeMethods.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ov {
namespace {

struct Case
{
    const char* name;
    WipeLevel level;
    bool scramble;
};

const Case kCases[] = {
    {"least", WipeLevel::Least, false},        {"least-scrambled", WipeLevel::Least, true},
    {"medium", WipeLevel::Medium, false},      {"high", WipeLevel::High, false},
    {"high-scrambled", WipeLevel::High, true},
};

QByteArray markerFor(const char* name)
{
    return "<<DURABLE-" + QByteArray(name) + ">>";
}

using PowerCut = ::testing::TestWithParam<const char*>;

std::unique_ptr<test::PowerCutDisk> diskOf(const char* type, QString* why)
{
    const QString fsType = QString::fromLatin1(type);
    // mkfs.xfs wants at least 300 MiB.
    return test::PowerCutDisk::create(fsType, fsType == QLatin1String("xfs") ? 320 << 20 : 48 << 20,
                                      why);
}

TEST_P(PowerCut, ADestroyedFileIsGoneForGoodAtTheMomentItIsCounted)
{
    QString why;
    auto disk = diskOf(GetParam(), &why);
    if (!disk)
        GTEST_SKIP() << why.toStdString();
    test::RecordingRunner runner;
    StopChannel stop;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const QByteArray marker = markerFor(c.name);
        const QByteArray path = disk->mountPoint() + "/" + c.name;
        test::writeFile(path, marker.repeated(3000));
        disk->settle();
        Settings settings;
        settings.ScrambleNames = c.scramble;
        (void)wipeAtLevel(path, c.level, WipeEnv{runner, settings, stop, {}});
        // "Destroyed": the power goes now.
        const QByteArray image = disk->snapshot(QStringLiteral("after-") + QLatin1String(c.name));
        ASSERT_FALSE(image.isEmpty());
        const QStringList names = disk->namesAfterReboot(image);
        EXPECT_FALSE(names.contains(QLatin1String(c.name))) << names.join(' ').toStdString();
        EXPECT_FALSE(names.contains(QStringLiteral("ovlxx.ovl")));
        EXPECT_EQ(test::countOccurrences(image, marker), 0);
        QFile::remove(QString::fromUtf8(image));
    }
}

// A run's deletes reach the disk with one flush of each folder after them: a file of the
// run is counted only once that flush is over, and the private folder the deletes went
// through is gone with it. Both ways: a least-level batch and the deletes that wait.
TEST_P(PowerCut, EveryFileOfARunIsGoneForGoodWhenItIsCounted)
{
    QString why;
    auto disk = diskOf(GetParam(), &why);
    if (!disk)
        GTEST_SKIP() << why.toStdString();
    // At each file's count the power goes: the names that come back after the reboot.
    struct View : DeletionView
    {
        void fileDealtWith(const QByteArray& path, const WipeOutcome&) override
        {
            const QByteArray image = disk->snapshot(QStringLiteral("counted"));
            counted.push_back(path.mid(path.lastIndexOf('/') + 1));
            namesBack.push_back(disk->namesAfterReboot(image, QStringLiteral("run")));
            QFile::remove(QString::fromUtf8(image));
        }
        test::PowerCutDisk* disk = nullptr;
        QStringList counted;
        std::vector<QStringList> namesBack;
    };
    const QByteArray folder = disk->mountPoint() + "/run";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    for (const char* level : {"1", "2"}) {
        View view;
        view.disk = disk.get();
        std::vector<QByteArray> paths;
        for (const char* name : {"first", "second", "third"}) {
            paths.push_back(folder + "/" + name + level);
            test::writeFile(paths.back(), markerFor(name).repeated(3000));
        }
        disk->settle();
        test::RecordingRunner runner;
        Settings settings;
        settings.SecurityLevel = QLatin1String(level);
        DeletionRun run(view, settings, nullptr, runner, {});
        EXPECT_EQ(run.run(paths), DeletionRun::Outcome::Done);
        ASSERT_EQ(size_t(view.counted.size()), paths.size()) << level;
        for (qsizetype i = 0; i < view.counted.size(); ++i) {
            const QStringList& back = view.namesBack[size_t(i)];
            for (const QString& name : view.counted.mid(0, i + 1))
                EXPECT_FALSE(back.contains(name))
                    << name.toStdString() << " back after a cut at " << i << ", level " << level;
            EXPECT_TRUE(back.filter(QStringLiteral(".ombrevault-")).isEmpty())
                << back.join(' ').toStdString() << ", level " << level;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, PowerCut, ::testing::Values("ext4", "xfs"),
                         [](const auto& info) { return std::string(info.param); });

// Fills the volume to the last block, so that the next block a file needs is refused.
void fillUp(const QByteArray& mountPoint)
{
    const int fd = ::open((mountPoint + "/ballast").constData(), O_WRONLY | O_CREAT, 0600);
    off_t size = 0;
    for (off_t step : {off_t(1) << 20, off_t(4096)}) {
        while (::posix_fallocate(fd, size, step) == 0)
            size += step;
    }
    ::fsync(fd);
    ::close(fd);
}

// The medium level grows the file, which a full volume refuses: by then the first pass
// has overwritten the whole file in place, and that must be on the disk when the
// failure is told.
TEST(PowerCutOnFailure, WhatWasOverwrittenIsOnTheDiskWhenTheFailureIsTold)
{
    QString why;
    auto disk = test::PowerCutDisk::create(QStringLiteral("ext4"), 48 << 20, &why);
    if (!disk)
        GTEST_SKIP() << why.toStdString();
    const QByteArray marker = markerFor("full-volume");
    const QByteArray path = disk->mountPoint() + "/victim";
    // Whole blocks, so that the growth needs a block of its own.
    test::writeFile(path, marker.repeated(64 << 10).left(256 << 10));
    fillUp(disk->mountPoint());
    disk->settle();
    test::RecordingRunner runner;
    Settings settings;
    StopChannel stop;
    try {
        (void)WipeFileMedium(path, WipeEnv{runner, settings, stop, {}});
        FAIL() << "the growth found room on a full volume";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), ENOSPC) << error.text().toStdString();
    }
    const QByteArray image = disk->snapshot(QStringLiteral("at-failure"));
    ASSERT_FALSE(image.isEmpty());
    EXPECT_EQ(test::countOccurrences(image, marker), 0);
}

} // namespace
} // namespace ov
