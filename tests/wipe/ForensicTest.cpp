// The test that matters most: after a wipe, the raw device must not hold one copy of
// what the file held. Needs root for the loop mounts; skipped otherwise.

#include "support/LoopMount.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"
#include "wipe/WipeMethods.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace ov {
namespace {

// A marker that nothing else on a fresh volume contains, repeated to the length.
QByteArray markerContent(const QByteArray& marker, qsizetype length)
{
    QByteArray content;
    while (content.size() < length)
        content += marker;
    content.truncate(length);
    return content;
}

struct Case
{
    const char* name;
    int level;
    qsizetype length;
};

// Odd lengths, so partial last blocks count; 34 bytes is the high method's rounding gap.
const Case kCases[] = {
    {"least-small", 1, 5003}, {"least-large", 1, 3 * 1048576 + 77},
    {"medium-small", 2, 34},  {"medium-large", 2, 2 * 1048576 + 4097},
    {"high-gap", 3, 34},      {"high-large", 3, 600007},
};

class Forensic : public ::testing::TestWithParam<const char*>
{
};

TEST_P(Forensic, NoCopyOfTheDataSurvivesOnTheDevice)
{
    const QString fsType = QString::fromLatin1(GetParam());
    QString why;
    // mkfs.xfs wants at least 300 MiB; the image is sparse.
    const qint64 size = fsType == QLatin1String("xfs") ? (320 << 20) : (64 << 20);
    auto mount = test::LoopMount::create(fsType, size, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();

    // What each file holds, and the pieces of it to look for on the device. A short file
    // ends in a needle of its own, so its last bytes are checked too.
    std::vector<QByteArray> needles;
    for (const Case& c : kCases) {
        const QByteArray marker = QByteArray("<<OMBRE-MARK-") + c.name + ">>";
        QByteArray content = markerContent(marker, c.length);
        needles.push_back(marker.left(20));
        if (c.length < 64) {
            const QByteArray tail = "#END" + QByteArray(c.name).left(4);
            content = marker.left(20) + QByteArray(c.length - 20 - tail.size(), '.') + tail;
            needles.push_back(tail);
        }
        test::writeFile(mount->mountPoint() + "/" + c.name, content);
    }
    // On the device first, or the test could not fail.
    ASSERT_TRUE(mount->unmount());
    for (const QByteArray& needle : needles)
        ASSERT_GT(test::countOccurrences(mount->imagePath(), needle), 0) << needle.constData();
    ASSERT_TRUE(mount->remount());

    test::RecordingLoop loop;
    Settings settings;
    for (const Case& c : kCases) {
        const QByteArray path = mount->mountPoint() + "/" + c.name;
        switch (c.level) {
        case 1:
            WipeFileLeast(path, true, settings, loop);
            break;
        case 2:
            WipeFileMedium(path, loop);
            break;
        default:
            WipeFileHigh(path, 11, true, settings, loop);
            break;
        }
        EXPECT_FALSE(test::exists(path));
    }
    ASSERT_TRUE(mount->unmount());
    for (const QByteArray& needle : needles)
        EXPECT_EQ(test::countOccurrences(mount->imagePath(), needle), 0)
            << needle.constData() << " survived on " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(FileSystems, Forensic, ::testing::Values("ext4", "xfs"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace ov
