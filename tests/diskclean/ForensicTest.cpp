// What a recovery tool would find: a file deleted the ordinary way leaves its bytes in
// the free space until the free-space wipe fills it.
#include "diskclean/RecordingView.h"
#include "support/LoopMount.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

void syncVolume(const QByteArray& mountPoint)
{
    const int fd = ::open(mountPoint.constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::syncfs(fd), 0);
    ::close(fd);
}

TEST(DiskForensic, DeletedDataIsOverwrittenByTheFreeSpaceWipe)
{
    QString why;
    auto mount = ov::test::LoopMount::create("ext4", 64 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    // 8 MiB of a 32-byte marker, on the disk, then deleted the ordinary way.
    const QByteArray marker = "<OV~forensic~marker~7Qz!k3#Pw9>\n";
    const QByteArray secret = mount->mountPoint() + "/secret.bin";
    ov::test::writeFile(secret, marker.repeated((8 << 20) / 32));
    syncVolume(mount->mountPoint());
    ASSERT_TRUE(mount->unmount());
    ASSERT_GE(ov::test::countOccurrences(mount->imagePath(), marker), (8 << 20) / 32);
    ASSERT_TRUE(mount->remount());
    ASSERT_EQ(::unlink(secret.constData()), 0);
    syncVolume(mount->mountPoint());
    {
        ov::test::RealRun real(mount->mountPoint());
        real.run.Command1_Click();
        real.expectCleanEnd(ov::FreeSpaceRun::Outcome::Finished);
    }
    ASSERT_TRUE(mount->unmount());
    const long long left = ov::test::countOccurrences(mount->imagePath(), marker);
    EXPECT_LE(left * 32, 10000 + 4096) << left << " markers survived the free-space wipe";
}

} // namespace
