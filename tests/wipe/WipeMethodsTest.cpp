#include "wipe/WipeMethods.h"
#include "platform/Error.h"
#include "support/LoopMount.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"
#include "wipe/PathHelpers.h"

#include <QRandomGenerator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <map>
#include <numeric>
#include <ostream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

// Each method in turn, deleting afterwards (the high one with the program's 11 passes).
struct Level
{
    const char* name;
    WipeLevel level;
    WipeOutcome wipe(const QByteArray& path, const WipeEnv& env) const
    {
        return wipeAtLevel(path, level, env);
    }
};

const Level kLevels[] = {
    {"least", WipeLevel::Least},
    {"medium", WipeLevel::Medium},
    {"high", WipeLevel::High},
};

void PrintTo(const Level& level, std::ostream* out)
{
    *out << level.name;
}

// Byte-level models of the methods, written the slow, literal way: one write per step, in
// the documented order. The real methods must leave exactly these bytes.

struct ModelFile
{
    void writeAt(qsizetype offset, const QByteArray& data)
    {
        if (bytes.size() < offset + data.size())
            bytes.resize(offset + data.size(), '\0');
        bytes.replace(offset, data.size(), data);
        position = offset + data.size();
    }
    QByteArray bytes;
    qsizetype position = 0;
};

// Half to even, as the old platform's integer conversion rounded (the default mode).
qsizetype halfToEven(qsizetype length, qsizetype divisor)
{
    return qsizetype(std::nearbyint(double(length) / double(divisor)));
}

QByteArray modelMedium(const QByteArray& original)
{
    ModelFile file{original};
    qsizetype blocks = file.bytes.size() / 4096 + 1;
    for (qsizetype k = 0; k < blocks; ++k) {
        file.writeAt(4096 * k, QByteArray(4096, 'X'));
        file.writeAt(4096 * k, QByteArray(4096, '0'));
    }
    for (int pass = 0; pass < 4; ++pass) {
        file.position = 0;
        blocks = file.bytes.size() / 4096 + 1;
        qsizetype p = 0;
        for (qsizetype k = 0; k < blocks; ++k) {
            p = file.position;
            file.writeAt(p, "Ombrevault by Tallowbrookworks");
            file.writeAt(p, "x");
        }
        file.writeAt(p, QByteArray(10000, 'u'));
    }
    return file.bytes;
}

// With the tail of each phase written up to the length, so no original byte survives.
QByteArray modelHigh(const QByteArray& original, int passes)
{
    ModelFile file{original};
    const qsizetype length = original.size();
    auto phase = [&](char byte, qsizetype chunk, qsizetype count) {
        for (qsizetype k = 1; k <= count; ++k)
            file.writeAt(chunk * (k - 1), QByteArray(chunk, byte));
        if (chunk * count < length)
            file.writeAt(chunk * count, QByteArray(length - chunk * count, byte));
    };
    for (int pass = 0; pass < passes; ++pass) {
        phase('\x00', 14, halfToEven(length, 14));
        phase('\xff', 14, halfToEven(length, 14));
        phase('\x00', 10, halfToEven(length, 10));
    }
    return file.bytes;
}

QByteArray randomBytes(qsizetype length, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(length, '\0');
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

class WipeMethods : public ::testing::Test
{
protected:
    test::TempDir dir;
    test::RecordingRunner loop;
    Settings settings;
    StopChannel stop;
    WipeEnv env{loop, settings, stop, dir.path()};
};

TEST_F(WipeMethods, LeastPassesAreSeparateAndFlushedAndLeaveZerosOverTheWholeLength)
{
    const QByteArray passes = dir.file("passes.bin");
    writeFile(passes, randomBytes(5000, 1));
    std::vector<QByteArray> seen;
    loop.onYield = [&] { seen.push_back(readFile(passes)); };
    env.readBack = false; // its reads yield too
    (void)WipeFileLeast(passes, false, env);
    // One yield after the chunk and one after each pass's close.
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[1], QByteArray(5000, '\x00'));
    EXPECT_EQ(seen[3], QByteArray(5000, '\xff'));
    EXPECT_EQ(seen[5], QByteArray(5000, '\x00'));

    loop.onYield = nullptr;
    for (qsizetype length : {0, 1, 7, 4096, 100000, 1048576 + 3, 3 * 1048576 + 17}) {
        const QByteArray path = dir.file("least.bin");
        writeFile(path, randomBytes(length, quint32(length)));
        (void)WipeFileLeast(path, false, env);
        EXPECT_EQ(readFile(path), QByteArray(length, '\0')) << length;
        (void)WipeFileLeast(path, true, env);
        EXPECT_FALSE(test::exists(path)) << length;
    }
}

TEST_F(WipeMethods, MediumSkipsTheBlankEntriesAndMatchesTheModelAtEveryLength)
{
    EXPECT_FALSE(WipeFileMedium(" ", env).touched);
    EXPECT_FALSE(WipeFileMedium("", env).touched);
    EXPECT_EQ(loop.yields, 2);
    EXPECT_EQ(loop.blockingCalls, 0);
    // Lengths around the block size and the growth past 10,000 bytes.
    for (qsizetype length : {0, 1, 4095, 4096, 4097, 8191, 8192, 10001, 12288, 40961, 300007}) {
        const QByteArray path = dir.file("medium.bin");
        const QByteArray original = randomBytes(length, quint32(length) + 7);
        writeFile(path, original);
        QByteArray last;
        loop.onYield = [&] {
            if (test::exists(path))
                last = readFile(path);
        };
        EXPECT_TRUE(WipeFileMedium(path, env).touched);
        EXPECT_FALSE(test::exists(path));
        EXPECT_EQ(last, modelMedium(original)) << "length " << length;
    }
}

TEST_F(WipeMethods, HighMatchesTheModelIncludingTheRoundedTailsAndRaisesLaterFailures)
{
    // 7 grows to 10 zeros, 21 to 28 bytes ending in the 0xff phase's tail; 34 ends in
    // zeros where the chunks stop at 28 and 30.
    const std::map<qsizetype, QByteArray> exact = {
        {7, QByteArray(10, '\0')},
        {21, QByteArray(21, '\0') + QByteArray(7, '\xff')},
        {34, QByteArray(34, '\0')}};
    std::vector<qsizetype> lengths(81);
    std::iota(lengths.begin(), lengths.end(), 0);
    lengths.push_back(2 * 1048576 + 13); // past the write chunk, and an exact half of both
    for (qsizetype length : lengths) {
        const QByteArray path = dir.file("high.bin");
        const QByteArray original = randomBytes(length, quint32(length) + 99);
        writeFile(path, original);
        (void)WipeFileHigh(path, 2, false, env);
        const QByteArray after = readFile(path);
        EXPECT_EQ(after, modelHigh(original, 2)) << "length " << length;
        EXPECT_EQ(after, exact.count(length) ? exact.at(length) : after) << length;
        // Not one byte of the original may survive inside its old length.
        EXPECT_EQ(after.left(length).count('\x00') + after.left(length).count('\xff'), length);
    }
    // A file vanishing during the first phase is a failure (once counted as deleted).
    const QByteArray vanishing = dir.file("vanishing");
    writeFile(vanishing, QByteArray(100, 'v'));
    loop.onYield = [&] { ::unlink(vanishing.constData()); };
    EXPECT_THROW((void)WipeFileHigh(vanishing, 11, true, env), Error);
}

TEST_F(WipeMethods, FilesOverFourGibibytes)
{
    // Sparse on tmpfs, so it costs memory bandwidth only. The medium method rounds the
    // length up to whole blocks and writes "x" over length / 4096 bytes: both overflow
    // with 32-bit lengths.
    const QByteArray shm = "/dev/shm";
    if (::access(shm.constData(), W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/shm";
    test::TempDir big(shm);
    const QByteArray path = big.file("huge");
    const off_t length = (off_t(4) << 30) + 5, blocks = length / 4096 + 1;
    writeFile(path, "head");
    ASSERT_EQ(::truncate(path.constData(), length), 0);
    bool checked = false;
    loop.onYield = [&] {
        // The last yield before the deletion: look at the finished file.
        struct stat st = {};
        if (::stat(path.constData(), &st) != 0 || st.st_size != blocks * 4096)
            return;
        const int fd = ::open(path.constData(), O_RDONLY);
        auto at = [&](off_t offset) {
            char two[2] = {};
            return ::pread(fd, two, 2, offset) == 2 ? QByteArray(two, 2) : QByteArray();
        };
        // The pattern passes see the grown length: one block more. The first run of "u"
        // makes the block before it data, so the later passes write their "x" there too.
        checked = at(0) == "xx" && at(blocks - 1) == "xu" && at(st.st_size - 2) == "00";
        ::close(fd);
    };
    EXPECT_TRUE(WipeFileMedium(path, env).touched);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(test::exists(path));
}

// Every refusal at every level.
class Refusals : public ::testing::TestWithParam<Level>
{
protected:
    // The wipe must fail with a clear message naming the path; gives the error's code.
    int refusedCode(const QByteArray& path)
    {
        try {
            (void)GetParam().wipe(path, env);
            ADD_FAILURE() << GetParam().name << " accepted " << path.constData();
        } catch (const Error& error) {
            EXPECT_EQ(error.path(), path);
            EXPECT_TRUE(error.text().contains(QString::fromUtf8(path)));
            EXPECT_FALSE(error.message().isEmpty());
            return error.code();
        }
        return 0;
    }

    test::TempDir dir;
    test::RecordingRunner loop;
    Settings settings;
    StopChannel stop;
    WipeEnv env{loop, settings, stop, dir.path()};
};

// A link (followed, it would reach "precious"), a dangling one, a folder, a FIFO (which
// would block), a missing file and a device node.
TEST_P(Refusals, EverythingButARegularFile)
{
    writeFile(dir.file("target"), "precious");
    ASSERT_EQ(::symlink(dir.file("target").constData(), dir.file("link").constData()), 0);
    ASSERT_EQ(::symlink("/nonexistent/x", dir.file("dangling").constData()), 0);
    ASSERT_EQ(::mkdir(dir.file("folder").constData(), 0755), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo").constData(), 0644), 0);
    for (const char* name : {"link", "dangling", "folder", "fifo"}) {
        refusedCode(dir.file(name));
        EXPECT_TRUE(test::exists(dir.file(name))) << name;
    }
    EXPECT_EQ(refusedCode(dir.file("missing")), ENOENT);
    EXPECT_EQ(readFile(dir.file("target")), "precious");
    // A node of /dev/null: a device the methods must never write, whatever it is.
    if (test::runningAsRoot()) {
        ASSERT_EQ(::mknod(dir.file("device").constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
        refusedCode(dir.file("device"));
    }
}

TEST_P(Refusals, ReadOnlyAndImmutableFilesAndAReadOnlyMount)
{
    // Least and high refuse a read-only file; medium clears the flag and never scrambles.
    const QByteArray readOnly = dir.file("readonly");
    writeFile(readOnly, "original");
    ASSERT_EQ(::chmod(readOnly.constData(), 0444), 0);
    settings.ScrambleNames = true;
    if (GetParam().level == WipeLevel::Medium) {
        loop.onYield = [&] { EXPECT_FALSE(test::exists(dir.file("ovlxx.ovl"))); };
        (void)GetParam().wipe(readOnly, env);
        EXPECT_FALSE(test::exists(readOnly));
    } else {
        EXPECT_EQ(refusedCode(readOnly), EACCES);
        EXPECT_EQ(readFile(readOnly), "original");
    }
    const QByteArray path = dir.file("immutable");
    writeFile(path, "cannot touch this");
    if (test::runTool("chattr", {"+i", QString::fromUtf8(path)})) {
        const int code = refusedCode(path);
        EXPECT_TRUE(code == EPERM || code == EACCES) << code;
        test::runTool("chattr", {"-i", QString::fromUtf8(path)});
        EXPECT_EQ(readFile(path), "cannot touch this");
    }
    QString why;
    auto mount = test::LoopMount::create("ext4", 16 << 20, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    const QByteArray onMount = mount->mountPoint() + "/file";
    writeFile(onMount, "on a read-only volume");
    ASSERT_TRUE(mount->unmount());
    ASSERT_TRUE(mount->remount("ro"));
    EXPECT_EQ(refusedCode(onMount), EROFS);
    EXPECT_EQ(readFile(onMount), "on a read-only volume");
}

INSTANTIATE_TEST_SUITE_P(AllLevels, Refusals, ::testing::ValuesIn(kLevels),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PathHelpers, PathPartModesFileExistsAndFileAccessible)
{
    // Mode 3 takes what follows the last dot anywhere in the path.
    using Row = std::tuple<const char*, int, const char*>;
    const Row rows[] = {{"/dir/f.txt", 0, "/"},
                        {"/dir/f.txt", 1, "/dir"},
                        {"/dir/f.txt", 2, "f.txt"},
                        {"/dir/f.txt", 3, "txt"},
                        {"/dir/f.txt", 7, ""},
                        {"home/dir/f", 0, "home/"},
                        {"/dir.old/readme", 3, "old/readme"},
                        {"/dir/readme", 3, "/dir/readme"},
                        {"plain", 2, "plain"},
                        {"plain", 0, ""},
                        {"/f", 1, ""}};
    for (auto [path, mode, expected] : rows)
        EXPECT_EQ(PathPart(path, mode), expected) << path << " " << mode;
    EXPECT_THROW(PathPart("plain", 1), Error);

    // FileExists: only visible regular files; FileAccessible: a length that can be read.
    test::TempDir dir;
    for (const char* name : {"plain", ".hidden", "readonly"})
        writeFile(dir.file(name), "x");
    ASSERT_EQ(::chmod(dir.file("readonly").constData(), 0444), 0);
    ASSERT_EQ(::mkdir(dir.file("folder").constData(), 0755), 0);
    ASSERT_EQ(::symlink(dir.file("plain").constData(), dir.file("link").constData()), 0);
    EXPECT_TRUE(FileExists(dir.file("plain")));
    EXPECT_TRUE(FileExists(dir.file("readonly")));
    EXPECT_FALSE(FileExists(dir.file(".hidden")));
    EXPECT_FALSE(FileExists(dir.file("folder")));
    EXPECT_FALSE(FileExists(dir.file("link")));
    EXPECT_FALSE(FileExists(dir.file("missing")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FileAccessible(dir.file("plain")));
    EXPECT_FALSE(FileAccessible(dir.file("missing")));
    EXPECT_FALSE(FileAccessible(""));
}

// Least and high scramble (medium never does, see the read-only refusals).
TEST(Scrambling, RenamesBeforeDeletingAndNeverReplacesAnExistingName)
{
    test::TempDir dir;
    test::RecordingRunner loop;
    const Settings settings{QString(), false, true};
    StopChannel stop;
    const WipeEnv env{loop, settings, stop, dir.path()};
    const QByteArray path = dir.file("report.doc"), scrambled = dir.file("ovlxx.ovl");
    loop.onYield = [&] {
        EXPECT_FALSE(test::exists(scrambled) && !test::exists(path))
            << "the rename comes after the last yield of overwriting";
    };
    // A second file of the same folder gets the same name: the first is gone by then. A
    // bare name is taken from the start folder, which gives it a folder to be renamed in.
    for (const Level& level : {kLevels[0], kLevels[2]}) {
        for (const QByteArray& named : {path, QByteArray("report.doc")}) {
            writeFile(path, "secret");
            (void)level.wipe(named, env);
            EXPECT_FALSE(test::exists(path) || test::exists(scrambled)) << level.name;
        }
    }
    // A file already holding the name is in the way: the wipe fails before it writes
    // anything, naming that file.
    writeFile(scrambled, "a user's own file");
    for (const Level& level : {kLevels[0], kLevels[2]}) {
        writeFile(path, "to be wiped");
        try {
            (void)level.wipe(path, env);
            ADD_FAILURE() << level.name << " went ahead with the name in the way";
        } catch (const Error& error) {
            EXPECT_EQ(error.code(), EEXIST);
            EXPECT_EQ(error.path(), scrambled);
            EXPECT_TRUE(error.message().startsWith(QStringLiteral("Is in the way")));
        }
        EXPECT_EQ(readFile(scrambled), "a user's own file");
        EXPECT_EQ(readFile(path), "to be wiped") << level.name;
    }
    // The file of that name itself is destroyed under its name.
    (void)kLevels[0].wipe(scrambled, env);
    EXPECT_FALSE(test::exists(scrambled));
}

// The test that matters most: no copy of what a file held survives on the raw device.
const struct
{
    const char* name;
    int level; // into kLevels
    qsizetype length;
} kCases[] = {
    // Odd lengths, so partial last blocks count; 34 bytes is the high method's rounding gap.
    {"least-small", 0, 5003}, {"least-large", 0, 3 * 1048576 + 77},
    {"medium-small", 1, 34},  {"medium-large", 1, 2 * 1048576 + 4097},
    {"high-gap", 2, 34},      {"high-large", 2, 600007},
};

using Forensic = ::testing::TestWithParam<const char*>;

TEST_P(Forensic, NoCopyOfTheDataSurvivesOnTheDevice)
{
    const QString fsType = QString::fromLatin1(GetParam());
    QString why;
    // mkfs.xfs wants at least 300 MiB; the image is sparse.
    const qint64 size = fsType == QLatin1String("xfs") ? (320 << 20) : (64 << 20);
    auto mount = test::LoopMount::create(fsType, size, &why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();

    // The needles to look for; a short file ends in one of its own, so its tail counts too.
    std::vector<QByteArray> needles;
    for (const auto& c : kCases) {
        // A marker that nothing else on a fresh volume contains, repeated to the length.
        const QByteArray marker = QByteArray("<<OMBRE-MARK-") + c.name + ">>";
        QByteArray content = marker.repeated(c.length / marker.size() + 1).left(c.length);
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

    test::RecordingRunner loop;
    Settings settings;
    StopChannel stop;
    const WipeEnv env{loop, settings, stop, {}};
    for (const auto& c : kCases) {
        const QByteArray path = mount->mountPoint() + "/" + c.name;
        (void)kLevels[c.level].wipe(path, env);
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
