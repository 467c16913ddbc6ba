#include "platform/Files.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

TEST(Files, RenameNeverReplaces)
{
    test::TempDir dir;
    writeFile(dir.file("a"), "A");
    writeFile(dir.file("b"), "B");
    EXPECT_THROW(fs::renameNoReplace(dir.file("a"), dir.file("b")), Error);
    EXPECT_EQ(readFile(dir.file("a")), "A");
    EXPECT_EQ(readFile(dir.file("b")), "B");
    fs::renameNoReplace(dir.file("a"), dir.file("c"));
    EXPECT_FALSE(test::exists(dir.file("a")));
    EXPECT_EQ(readFile(dir.file("c")), "A");
}

TEST(Files, MakeOwnerWritableDoesNotFollowLinks)
{
    test::TempDir dir;
    writeFile(dir.file("target"), "t");
    ASSERT_EQ(::chmod(dir.file("target").constData(), 0444), 0);
    ASSERT_EQ(::symlink(dir.file("target").constData(), dir.file("link").constData()), 0);
    EXPECT_THROW(fs::makeOwnerWritable(dir.file("link")), Error);
    struct stat st;
    ASSERT_EQ(::stat(dir.file("target").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    fs::makeOwnerWritable(dir.file("target"));
    ASSERT_EQ(::stat(dir.file("target").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(Files, AppendOwnedRefusesLinksAndCreatesPrivateFiles)
{
    test::TempDir dir;
    DirectEventLoop loop;
    writeFile(dir.file("victim"), "v");
    ASSERT_EQ(::symlink(dir.file("victim").constData(), dir.file("planted").constData()), 0);
    EXPECT_THROW(fs::File::openAppendOwned(dir.file("planted"), loop), Error);
    EXPECT_EQ(readFile(dir.file("victim")), "v");

    fs::File file = fs::File::openAppendOwned(dir.file("new"), loop);
    file.append("abc", 3);
    file.append("de", 2);
    file.sync();
    file.close();
    EXPECT_EQ(readFile(dir.file("new")), "abcde");
    struct stat st;
    ASSERT_EQ(::stat(dir.file("new").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Files, WritesLandAtTheirOffsetsAndExtend)
{
    test::TempDir dir;
    DirectEventLoop loop;
    writeFile(dir.file("f"), "0123456789");
    fs::File file = fs::File::openRegular(dir.file("f"), fs::File::Access::ReadWrite, loop);
    file.writeAt("ab", 2, 3);
    file.writeAt("XY", 2, 12);
    EXPECT_EQ(file.size(), 14);
    file.close();
    EXPECT_EQ(readFile(dir.file("f")), QByteArray("012ab56789\0\0XY", 14));
}

TEST(Paths, JoinAndFolders)
{
    EXPECT_EQ(joinPath("/", "x"), "/x");
    EXPECT_EQ(joinPath("/a", "x"), "/a/x");
    EXPECT_EQ(joinPath("/a/", "x"), "/a/x");
    const QByteArray folder = programFolder();
    EXPECT_TRUE(folder.startsWith('/'));
    EXPECT_TRUE(test::exists(folder + "/platform_tests"));
}

} // namespace
} // namespace ov
