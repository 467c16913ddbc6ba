// What a recovery tool would find: a file deleted the ordinary way leaves its bytes in
// the free space until the free-space wipe fills it.
#include "diskclean/RecordingView.h"
#include "platform/LinuxVolumes.h"
#include "support/LoopMount.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// 32 bytes that occur nowhere else on a fresh volume.
const QByteArray kMarker = "<OV~forensic~marker~7Qz!k3#Pw9>\n";

void syncVolume(const QByteArray& mountPoint)
{
    const int fd = ::open(mountPoint.constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::syncfs(fd), 0);
    ::close(fd);
}

TEST(Forensic, DeletedDataIsOverwrittenByTheFreeSpaceWipe)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 64 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    ASSERT_EQ(kMarker.size(), 32);

    // 8 MiB of marker, on the disk, then deleted the ordinary way.
    const QByteArray secret = mount->mountPoint() + "/secret.bin";
    ov::test::writeFile(secret, kMarker.repeated((8 << 20) / kMarker.size()));
    syncVolume(mount->mountPoint());
    ASSERT_TRUE(mount->unmount());
    ASSERT_GE(ov::test::countOccurrences(mount->imagePath(), kMarker), (8 << 20) / 32);
    ASSERT_TRUE(mount->remount());
    ASSERT_EQ(::unlink(secret.constData()), 0);
    syncVolume(mount->mountPoint());

    {
        ov::test::RecordingLoop loop;
        ov::LinuxVolumes volumes(loop);
        ov::CDriveInfo info(volumes);
        info.setRootPath(mount->mountPoint());
        ov::test::RecordingView view;
        view.designator = mount->mountPoint();
        ov::Settings settings;
        ov::FreeSpaceRun run(info, view, loop, settings, nullptr);
        run.Command1_Click();
        ASSERT_TRUE(view.reports.isEmpty()) << view.reports.join("|").toStdString();
        ASSERT_EQ(run.lastOutcome(), ov::FreeSpaceRun::Outcome::Finished);
    }
    ASSERT_TRUE(mount->unmount());

    const long long left = ov::test::countOccurrences(mount->imagePath(), kMarker);
    EXPECT_LE(left * kMarker.size(), 10000 + 4096)
        << left << " markers survived the free-space wipe";
}

} // namespace
