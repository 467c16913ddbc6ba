#include "wipe/PathHelpers.h"
#include "platform/Error.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"
#include "wipe/WipeMethods.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

TEST(PathPart, ModesOnAFullPath)
{
    EXPECT_EQ(PathPart("/dir/f.txt", 0), "/");
    EXPECT_EQ(PathPart("/dir/f.txt", 1), "/dir");
    EXPECT_EQ(PathPart("/dir/f.txt", 2), "f.txt");
    EXPECT_EQ(PathPart("/dir/f.txt", 3), "txt");
    EXPECT_EQ(PathPart("/dir/f.txt", 7), "");
    EXPECT_EQ(PathPart("/dir/f.txt", -1), "");
    EXPECT_EQ(PathPart("home/dir/f", 0), "home/");
}

TEST(PathPart, PathsWithoutSeparatorOrDot)
{
    // The extension is the text after the last dot anywhere in the path.
    EXPECT_EQ(PathPart("/dir.old/readme", 3), "old/readme");
    EXPECT_EQ(PathPart("/dir/readme", 3), "/dir/readme");
    EXPECT_EQ(PathPart("plain", 2), "plain");
    EXPECT_EQ(PathPart("plain", 0), "");
    EXPECT_EQ(PathPart("/f", 1), "");
    EXPECT_THROW(PathPart("plain", 1), Error);
}

class Scrambling : public ::testing::Test
{
protected:
    test::TempDir dir;
    test::RecordingLoop loop;
    Settings settings{QString(), false, true};
};

TEST_F(Scrambling, RenamesBeforeDeletingAtLeastAndHigh)
{
    const QByteArray path = dir.file("report.doc");
    writeFile(path, "secret");
    bool scrambledSeen = false;
    loop.onYield = [&] {
        scrambledSeen |= test::exists(dir.file("ovlxx.ovl")) && !test::exists(path);
    };
    WipeFileLeast(path, true, settings, loop);
    EXPECT_FALSE(test::exists(path));
    EXPECT_FALSE(test::exists(dir.file("ovlxx.ovl")));

    // A second file of the same folder gets the same name: the first is gone by then.
    writeFile(path, "secret too");
    WipeFileHigh(path, 1, true, settings, loop);
    EXPECT_FALSE(test::exists(path));
    EXPECT_FALSE(test::exists(dir.file("ovlxx.ovl")));
    EXPECT_FALSE(scrambledSeen) << "the rename comes after the last yield of overwriting";
}

TEST_F(Scrambling, ScrambleNameReturnsTheNewPath)
{
    const QByteArray path = dir.file("a.txt");
    writeFile(path, "data");
    const QByteArray renamed = ScrambleName(path, loop);
    EXPECT_EQ(renamed, dir.file("ovlxx.ovl"));
    EXPECT_EQ(readFile(renamed), "data");
    EXPECT_FALSE(test::exists(path));
    EXPECT_EQ(loop.yields, 1);
}

TEST_F(Scrambling, AnExistingScrambledNameIsNeverReplaced)
{
    const QByteArray mine = dir.file("ovlxx.ovl");
    writeFile(mine, "a user's own file");
    const QByteArray path = dir.file("victim");
    for (bool high : {false, true}) {
        writeFile(path, "to be wiped");
        try {
            if (high)
                WipeFileHigh(path, 1, true, settings, loop);
            else
                WipeFileLeast(path, true, settings, loop);
            ADD_FAILURE() << "the rename should have failed";
        } catch (const Error& error) {
            EXPECT_EQ(error.code(), EEXIST);
        }
        EXPECT_EQ(readFile(mine), "a user's own file");
        // The file keeps its own name, overwritten.
        ASSERT_TRUE(test::exists(path));
        const QByteArray left = readFile(path);
        EXPECT_EQ(left.count('\0') + left.count('\xff'), left.size());
    }
}

TEST_F(Scrambling, ABareNameHasNoFolderToScrambleIn)
{
    EXPECT_THROW(ScrambleName("bare-name", loop), Error);
}

TEST(FileExists, OnlyVisibleRegularFiles)
{
    test::TempDir dir;
    writeFile(dir.file("plain"), "x");
    writeFile(dir.file(".hidden"), "x");
    writeFile(dir.file("readonly"), "x");
    ::chmod(dir.file("readonly").constData(), 0444);
    ::mkdir(dir.file("folder").constData(), 0755);
    ::symlink(dir.file("plain").constData(), dir.file("link").constData());
    EXPECT_TRUE(FileExists(dir.file("plain")));
    EXPECT_TRUE(FileExists(dir.file("readonly")));
    EXPECT_FALSE(FileExists(dir.file(".hidden")));
    EXPECT_FALSE(FileExists(dir.file("folder")));
    EXPECT_FALSE(FileExists(dir.file("link")));
    EXPECT_FALSE(FileExists(dir.file("missing")));
    EXPECT_FALSE(FileExists(""));
}

} // namespace
} // namespace ov
