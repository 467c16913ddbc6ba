#include "platform/Error.h"
#include "support/LoopMount.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"
#include "wipe/WipeMethods.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

// Each method in turn, so every refusal is checked at every level.
struct Level
{
    const char* name;
    void (*wipe)(const QByteArray&, const Settings&, EventLoop&);
};

const Level kLevels[] = {
    {"least",
     [](const QByteArray& p, const Settings& s, EventLoop& l) { WipeFileLeast(p, true, s, l); }},
    {"medium", [](const QByteArray& p, const Settings&, EventLoop& l) { WipeFileMedium(p, l); }},
    {"high",
     [](const QByteArray& p, const Settings& s, EventLoop& l) { WipeFileHigh(p, 11, true, s, l); }},
};

void PrintTo(const Level& level, std::ostream* out) { *out << level.name; }

class Refusals : public ::testing::TestWithParam<Level>
{
protected:
    // The wipe must fail with a clear message naming the path, and write nothing.
    void expectRefused(const QByteArray& path)
    {
        try {
            GetParam().wipe(path, settings, loop);
            ADD_FAILURE() << GetParam().name << " accepted " << path.constData();
        } catch (const Error& error) {
            EXPECT_EQ(error.path(), path);
            EXPECT_TRUE(error.text().contains(QString::fromUtf8(path)));
        }
        EXPECT_EQ(loop.blockingCalls, 0) << "something was opened or written";
    }

    test::TempDir dir;
    test::RecordingLoop loop;
    Settings settings;
};

TEST_P(Refusals, SymbolicLinkIsNotFollowed)
{
    const QByteArray target = dir.file("target");
    writeFile(target, "precious");
    const QByteArray link = dir.file("link");
    ASSERT_EQ(::symlink(target.constData(), link.constData()), 0);
    expectRefused(link);
    EXPECT_EQ(readFile(target), "precious");
    EXPECT_TRUE(test::exists(link));
}

TEST_P(Refusals, DanglingLinkAndFolder)
{
    const QByteArray link = dir.file("dangling");
    ASSERT_EQ(::symlink("/nonexistent/x", link.constData()), 0);
    expectRefused(link);
    const QByteArray folder = dir.file("folder");
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    expectRefused(folder);
    EXPECT_TRUE(test::exists(folder));
}

TEST_P(Refusals, FifoDoesNotBlock)
{
    const QByteArray fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    expectRefused(fifo);
}

TEST_P(Refusals, DeviceNode)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "making a device node needs root";
    // A node of /dev/null: a device the methods must never write, whatever it is.
    const QByteArray node = dir.file("device");
    ASSERT_EQ(::mknod(node.constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
    expectRefused(node);
}

TEST_P(Refusals, ImmutableFile)
{
    const QByteArray path = dir.file("immutable");
    writeFile(path, "cannot touch this");
    if (!test::runTool(QStringLiteral("chattr"), {QStringLiteral("+i"), QString::fromUtf8(path)}))
        GTEST_SKIP() << "chattr +i is not possible here";
    try {
        GetParam().wipe(path, settings, loop);
        ADD_FAILURE() << "an immutable file was reported as wiped";
    } catch (const Error& error) {
        EXPECT_EQ(error.path(), path);
        EXPECT_TRUE(error.code() == EPERM || error.code() == EACCES) << error.code();
    }
    test::runTool(QStringLiteral("chattr"), {QStringLiteral("-i"), QString::fromUtf8(path)});
    EXPECT_EQ(readFile(path), "cannot touch this");
}

TEST_P(Refusals, ReadOnlyMount)
{
    QString why;
    auto mount = test::LoopMount::create(QStringLiteral("ext4"), 16 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    const QByteArray path = mount->mountPoint() + "/file";
    writeFile(path, "on a read-only volume");
    ASSERT_TRUE(mount->unmount());
    ASSERT_TRUE(mount->remount(QStringLiteral("ro")));
    try {
        GetParam().wipe(path, settings, loop);
        ADD_FAILURE() << "a file on a read-only mount was reported as wiped";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), EROFS);
        EXPECT_EQ(error.path(), path);
    }
    EXPECT_EQ(readFile(path), "on a read-only volume");
}

INSTANTIATE_TEST_SUITE_P(AllLevels, Refusals, ::testing::ValuesIn(kLevels),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace ov
