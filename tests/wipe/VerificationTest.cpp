// Never say destroyed when the data survives: each wipe's verdict is checked against the
// raw image of the volume it ran on.

#include "platform/Error.h"
#include "support/FuseMount.h"
#include "support/LoopMount.h"
#include "support/RecordingHost.h"
#include "support/TempDir.h"
#include "support/Tmpfs.h"
#include "wipe/WipeMethods.h"

#include <QProcess>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <linux/fiemap.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ov {
namespace {

using Kind = Verdict::Kind;

const WipeLevel kAllLevels[] = {WipeLevel::Least, WipeLevel::Medium, WipeLevel::High};

// The model against a plain array of bytes, on random overlapping writes.
TEST(WrittenBytes, LaterWritesReplaceEarlierOnesAsAnArrayOfBytesWould)
{
    QRandomGenerator random(1207);
    for (int round = 0; round < 300; ++round) {
        WrittenBytes model;
        QByteArray bytes(200, '\0');
        QByteArray written(200, '\0');
        for (int i = 0; i < 12; ++i) {
            const int from = int(random.bounded(200));
            const int to = from + int(random.bounded(200 - from + 1));
            const char byte = char('a' + random.bounded(26));
            model.record(from, to, byte);
            for (int at = from; at < to; ++at) {
                bytes[at] = byte;
                written[at] = 1;
            }
        }
        const int from = int(random.bounded(200)), to = from + int(random.bounded(201 - from));
        QByteArray seen(200, '\0'), seenWritten(200, '\0');
        off_t last = from;
        for (const auto& s : model.within(from, to)) {
            ASSERT_GE(s.from, last) << "in order, without overlaps";
            ASSERT_LE(s.to, to);
            last = s.to;
            for (qsizetype at = s.from; at < s.to; ++at) {
                seen[at] = s.byte;
                seenWritten[at] = 1;
            }
        }
        for (int at = from; at < to; ++at) {
            ASSERT_EQ(seenWritten[at], written[at]) << "round " << round << " at " << at;
            if (written[at]) {
                ASSERT_EQ(seen[at], bytes[at]) << "round " << round << " at " << at;
            }
        }
    }
}

// A pass written in pieces is read back as one stretch, in large reads.
TEST(WrittenBytes, NeighboursOfOneByteAreOneStretch)
{
    WrittenBytes model;
    model.record(0, 4096, 'a');
    model.record(4096, 8192, 'a');
    model.record(8192, 9000, 'b');
    model.record(9000, 12288, 'a');
    const auto found = model.within(100, 12000);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].from, 100);
    EXPECT_EQ(found[0].to, 8192);
    EXPECT_EQ(found[1].byte, 'b');
    EXPECT_EQ(found[2].from, 9000);
    EXPECT_EQ(found[2].to, 12000);
}

fs::Extent extent(off_t logical, off_t physical, off_t length, std::uint32_t flags = 0)
{
    return {logical, physical, length, flags};
}

// What the extents alone say, for the cases each file system gives.
TEST(Verdicts, TheExtentsAloneTell)
{
    const FileSystemKind ext4 = fileSystemKindByName("ext4");
    const FileSystemKind btrfs = fileSystemKindByName("btrfs");
    const std::vector<fs::Extent> before{extent(0, 4096, 8192), extent(8192, 65536, 4096)};
    // The same places, told in other pieces, and growth past the old length: reached.
    const std::vector<fs::Extent> split{extent(0, 4096, 4096), extent(4096, 8192, 4096),
                                        extent(8192, 65536, 8192)};
    EXPECT_EQ(judgeByExtents(ext4, before, split, 12288), std::nullopt);
    // Allocated but never written: no data of the file there to reach.
    std::vector<fs::Extent> withUnwritten = before;
    withUnwritten.push_back(extent(12288, 1 << 20, 4096, FIEMAP_EXTENT_UNWRITTEN));
    EXPECT_EQ(judgeByExtents(ext4, withUnwritten, before, 16384), std::nullopt);

    const struct
    {
        const char* name;
        FileSystemKind kind;
        std::optional<std::vector<fs::Extent>> before, after;
        Kind verdict;
        const char* cause;
    } rows[] = {
        {"moved on btrfs", btrfs, before, std::vector{extent(0, 1 << 20, 12288)}, Kind::NotReached,
         "moved"},
        {"moved on ext4", ext4, before,
         std::vector{extent(0, 4096, 8192), extent(8192, 8192, 4096)}, Kind::NotReached, "moved"},
        {"shared", ext4, std::vector{extent(0, 4096, 12288, FIEMAP_EXTENT_SHARED)},
         std::vector{extent(0, 4096, 12288, FIEMAP_EXTENT_SHARED)}, Kind::NotReached, "shared"},
        {"inline", btrfs, std::vector{extent(0, 0, 100, FIEMAP_EXTENT_DATA_INLINE)},
         std::vector{extent(0, 0, 100, FIEMAP_EXTENT_DATA_INLINE)}, Kind::Overwritten,
         "not mappable"},
        {"compressed", btrfs, before, std::vector{extent(0, 4096, 12288, FIEMAP_EXTENT_ENCODED)},
         Kind::Overwritten, "not mappable"},
        {"no map", fileSystemKindByName("fuse.sshfs"), std::nullopt, std::nullopt,
         Kind::Overwritten, "not mappable"},
        {"memory", fileSystemKindByName("tmpfs"), std::nullopt, std::nullopt, Kind::Overwritten,
         "memory only"},
    };
    for (const auto& row : rows) {
        const std::optional<Verdict> verdict =
            judgeByExtents(row.kind, row.before, row.after, 12288);
        ASSERT_TRUE(verdict.has_value()) << row.name;
        EXPECT_EQ(verdict->kind, row.verdict) << row.name;
        EXPECT_EQ(verdict->cause, QString::fromLatin1(row.cause)) << row.name;
        EXPECT_EQ(verdict->destroyed(), row.verdict != Kind::NotReached) << row.name;
        if (row.verdict == Kind::NotReached) {
            EXPECT_FALSE(verdict->advice.isEmpty()) << row.name;
        }
    }
    EXPECT_EQ(verifiedVerdict(QStringLiteral("/dev/sda1")).text(),
              QStringLiteral("verified on the device"));
}

// The files of a test volume: each holds a marker of its own, repeated.
class Volume
{
public:
    explicit Volume(const QString& fsType, qint64 size, const QString& options = {})
        : m_mount(test::LoopMount::create(fsType, size, &m_why, options))
    {}
    bool ok() const { return m_mount != nullptr; }
    std::string why() const { return m_why.toStdString(); }
    QByteArray file(const QByteArray& name) const { return m_mount->mountPoint() + "/" + name; }
    QByteArray marker(const QByteArray& name) const { return "<<VERIFY-" + name + ">>"; }
    QByteArray make(const QByteArray& name, qint64 length = 300 << 10) const
    {
        test::writeFile(file(name), marker(name).repeated(length / 16 + 1).left(length));
        return file(name);
    }
    // The markers of each file left on the raw image, read once the volume is unmounted.
    std::vector<long long> left(const std::vector<QByteArray>& names)
    {
        std::vector<long long> counts;
        if (!m_mount->unmount())
            return counts;
        for (const QByteArray& name : names)
            counts.push_back(test::countOccurrences(m_mount->imagePath(), marker(name)));
        m_mount->remount();
        return counts;
    }
    long long left(const QByteArray& name) { return left(std::vector{name}).at(0); }
    test::LoopMount& mount() { return *m_mount; }

private:
    QString m_why;
    std::unique_ptr<test::LoopMount> m_mount;
};

class Verify : public ::testing::Test
{
protected:
    Verdict wipe(const QByteArray& path, WipeLevel level)
    {
        return WipeAtLevel(path, level, WipeEnv{host, settings, stop, {}}).verdict;
    }
    void expect(const Verdict& verdict, Kind kind, const char* cause, const char* where)
    {
        EXPECT_EQ(verdict.kind, kind) << where << ": " << verdict.explained().toStdString();
        EXPECT_EQ(verdict.cause, QString::fromLatin1(cause)) << where;
    }

    test::RecordingHost host;
    Settings settings;
    StopChannel stop;
};

// In place on ext4 and xfs: read back from the device, and nothing of the file is left.
TEST_F(Verify, Ext4AndXfsAreVerifiedOnTheDeviceAtEveryLevel)
{
    for (const char* type : {"ext4", "xfs"}) {
        Volume volume(QString::fromLatin1(type), QString(type) == "xfs" ? 320 << 20 : 64 << 20);
        if (!volume.ok())
            GTEST_SKIP() << volume.why();
        std::vector<QByteArray> names;
        for (WipeLevel level : kAllLevels) {
            names.push_back(QByteArray(type) + "-" + QByteArray::number(int(level)));
            volume.make(names.back());
        }
        for (long long count : volume.left(names))
            ASSERT_GT(count, 0) << "on the device first";
        for (size_t i = 0; i < names.size(); ++i) {
            const Verdict verdict = wipe(volume.file(names[i]), kAllLevels[i]);
            expect(verdict, Kind::Verified, "", names[i].constData());
            // Root reads the old places on the loop device itself.
            EXPECT_TRUE(verdict.detail.startsWith(QStringLiteral("read back from /dev/loop")))
                << verdict.detail.toStdString();
        }
        EXPECT_EQ(volume.left(names), std::vector<long long>(names.size(), 0)) << type;
    }
}

// A reflinked copy keeps the old blocks: the verdict must say so, and the image shows the
// data is indeed still there.
TEST_F(Verify, AReflinkedCopyOnXfsIsNotReached)
{
    Volume volume(QStringLiteral("xfs"), 320 << 20);
    if (!volume.ok())
        GTEST_SKIP() << volume.why();
    const QByteArray path = volume.make("original");
    if (!test::runTool(QStringLiteral("cp"),
                       {QStringLiteral("--reflink=always"), QString::fromUtf8(path),
                        QString::fromUtf8(volume.file("copy"))}))
        GTEST_SKIP() << "this xfs has no reflinks";
    expect(wipe(path, WipeLevel::Least), Kind::NotReached, "shared", "reflinked");
    EXPECT_FALSE(test::exists(path)) << "deleted all the same, as asked";
    EXPECT_GT(volume.left("original"), 0);
}

// btrfs writes every change elsewhere; the old blocks are free space afterwards, which the
// free-space run then reaches. A snapshot shares the blocks instead.
TEST_F(Verify, BtrfsMovesTheDataAndASnapshotSharesIt)
{
    Volume volume(QStringLiteral("btrfs"), 256 << 20);
    if (!volume.ok())
        GTEST_SKIP() << volume.why();
    std::vector<QByteArray> names;
    for (WipeLevel level : kAllLevels) {
        names.push_back("btrfs-" + QByteArray::number(int(level)));
        expect(wipe(volume.make(names.back()), level), Kind::NotReached, "moved",
               names.back().constData());
        // At once: a later file's new blocks may take the freed old ones.
        EXPECT_GT(volume.left(names.back()), 0) << "the old blocks still hold the data";
    }
    QProcess clean;
    clean.start(QStringLiteral(OV_CLI_PATH), {QStringLiteral("clean-free-space"),
                                              QString::fromUtf8(volume.mount().mountPoint())});
    ASSERT_TRUE(clean.waitForFinished(120000));
    EXPECT_EQ(clean.exitCode(), 0) << clean.readAllStandardError().toStdString();
    EXPECT_EQ(volume.left(names), std::vector<long long>(names.size(), 0));

    const QString sub = QString::fromUtf8(volume.file("sub"));
    ASSERT_TRUE(test::runTool(QStringLiteral("btrfs"), {"subvolume", "create", sub}));
    const QByteArray inSub = volume.make("sub/kept");
    ASSERT_TRUE(test::runTool(QStringLiteral("btrfs"),
                              {"subvolume", "snapshot", sub, sub + QStringLiteral("-snap")}));
    expect(wipe(inSub, WipeLevel::Least), Kind::NotReached, "shared", "snapshot");
}

TEST_F(Verify, TmpfsIsOverwrittenInMemoryOnly)
{
    test::Tmpfs tmpfs(8 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QByteArray path = tmpfs.mountPoint() + "/file";
    test::writeFile(path, "in memory");
    expect(wipe(path, WipeLevel::Least), Kind::Overwritten, "memory only", "tmpfs");
}

// A disk that acknowledges writes it does not keep: what is read back from it is still the
// old data, and the verdict must say the overwrite did not reach it.
TEST_F(Verify, ADiskThatDoesNotKeepWritesIsNotReached)
{
    QString why;
    auto disk = test::PowerCutDisk::create(QStringLiteral("ext4"), 32 << 20, &why);
    if (!disk)
        GTEST_SKIP() << why.toStdString();
    const QByteArray path = disk->mountPoint() + "/lied-to";
    test::writeFile(path, QByteArray("<<KEPT-BY-A-LIAR>>").repeated(20000));
    disk->settle();
    ASSERT_TRUE(disk->loseWrites());
    settings.ScrambleNames = false;
    const Verdict verdict = WipeFileLeast(path, false, WipeEnv{host, settings, stop, {}}).verdict;
    expect(verdict, Kind::NotReached, "not on the device", "lying disk");
}

// A user who is not root reads the device only where it is theirs to read: the image of
// their own loop mount, else their file past its cache. Both count as read back.
TEST_F(Verify, AnOrdinaryUserReadsBackWhatItMayRead)
{
    Volume volume(QStringLiteral("ext4"), 32 << 20);
    if (!volume.ok())
        GTEST_SKIP() << volume.why();
    const uid_t nobody = 65534;
    const QByteArray point = volume.mount().mountPoint();
    ASSERT_EQ(::chmod(point.left(point.lastIndexOf('/')).constData(), 0755), 0);
    ASSERT_EQ(::chown(point.constData(), nobody, nobody), 0);
    const QByteArray image = volume.mount().imagePath();
    for (mode_t imageMode : {mode_t(0644), mode_t(0600)}) {
        ASSERT_EQ(::chmod(image.constData(), imageMode), 0);
        const QByteArray path = volume.make("users");
        ASSERT_EQ(::chown(path.constData(), nobody, nobody), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setresgid(nobody, nobody, nobody) != 0 ||
                ::setresuid(nobody, nobody, nobody) != 0)
                ::_exit(10);
            test::RecordingHost childHost;
            try {
                const Verdict verdict =
                    WipeAtLevel(path, WipeLevel::Least, WipeEnv{childHost, settings, stop, {}})
                        .verdict;
                if (verdict.kind != Kind::Verified)
                    ::_exit(12);
                // Its own image where it may read it, else its file past the cache.
                ::_exit(verdict.detail.contains(QString::fromUtf8(image)) ? 0 : 1);
            } catch (const Error&) {
                ::_exit(11);
            }
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), imageMode == 0644 ? 0 : 1)
            << "image mode " << std::oct << imageMode;
        EXPECT_EQ(volume.left("users"), 0);
    }
}

} // namespace
} // namespace ov
