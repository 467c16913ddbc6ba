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

TEST(PathPart, Modes)
{
    struct Row
    {
        const char* path;
        int mode;
        const char* expected;
    };
    const Row rows[] = {
        {"/dir/f.txt", 0, "/"},
        {"/dir/f.txt", 1, "/dir"},
        {"/dir/f.txt", 2, "f.txt"},
        {"/dir/f.txt", 3, "txt"},
        {"/dir/f.txt", 7, ""},
        {"home/dir/f", 0, "home/"},
        {"/dir.old/readme", 3, "old/readme"}, // the last dot anywhere in the path
        {"/dir/readme", 3, "/dir/readme"},
        {"plain", 2, "plain"},
        {"plain", 0, ""},
        {"/f", 1, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(PathPart(row.path, row.mode), row.expected) << row.path << " " << row.mode;
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
