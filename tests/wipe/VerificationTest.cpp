// Never say destroyed when the data survives: each wipe's verdict is checked against the
// raw image of the volume it ran on.

#include "platform/Error.h"
#include "platform/MountTable.h"
#include "support/Child.h"
#include "support/FuseMount.h"
#include "support/LoopMount.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"
#include "support/Tmpfs.h"
#include "wipe/WipeMethods.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <linux/fiemap.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ov {
namespace {

using Kind = Verdict::Kind;

const QString kReplacedText = QStringLiteral("The file was replaced while it was being destroyed");

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
        // Not mappable is never taken for overwritten: each says what keeps the old bytes.
        {"inline", btrfs, std::vector{extent(0, 0, 100, FIEMAP_EXTENT_DATA_INLINE)},
         std::vector{extent(0, 0, 100, FIEMAP_EXTENT_DATA_INLINE)}, Kind::NotReached, "inline"},
        {"inline on ext4", ext4,
         std::vector{extent(0, 0, 100, FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_NOT_ALIGNED)},
         std::vector{extent(0, 0, 100, FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_NOT_ALIGNED)},
         Kind::NotReached, "inline"},
        {"compressed", btrfs, before, std::vector{extent(0, 4096, 12288, FIEMAP_EXTENT_ENCODED)},
         Kind::NotReached, "compressed"},
        {"copy-on-write in the same places", btrfs, before, before, Kind::NotReached,
         "copy-on-write"},
        {"btrfs not mappable", btrfs, std::nullopt, std::nullopt, Kind::NotReached,
         "copy-on-write"},
        {"ext4 not mappable", ext4, std::nullopt, std::nullopt, Kind::NotProved, "not mappable"},
        {"ext4 places not told", ext4, std::vector{extent(0, 0, 12288, FIEMAP_EXTENT_UNKNOWN)},
         std::vector{extent(0, 0, 12288, FIEMAP_EXTENT_UNKNOWN)}, Kind::NotProved, "not mappable"},
        {"unknown file system", fileSystemKindByName("zonefs"), before, before, Kind::NotProved,
         "file system not known"},
        {"server", fileSystemKindByName("fuse.sshfs"), std::nullopt, std::nullopt,
         Kind::Overwritten, "beyond this machine"},
        {"memory", fileSystemKindByName("tmpfs"), std::nullopt, std::nullopt, Kind::Overwritten,
         "memory only"},
    };
    for (const auto& row : rows) {
        const std::optional<Verdict> verdict =
            judgeByExtents(row.kind, row.before, row.after, 12288);
        ASSERT_TRUE(verdict.has_value()) << row.name;
        EXPECT_EQ(verdict->kind, row.verdict) << row.name;
        EXPECT_EQ(verdict->cause, QString::fromLatin1(row.cause)) << row.name;
        EXPECT_EQ(verdict->destroyed(),
                  row.verdict == Kind::Overwritten || row.verdict == Kind::Verified)
            << row.name;
        if (!verdict->destroyed()) {
            EXPECT_FALSE(verdict->advice.isEmpty()) << row.name;
        }
    }
    EXPECT_EQ(verifiedVerdict(QStringLiteral("/dev/sda1")).text(),
              QStringLiteral("verified on the device"));

    // What the file's flags and the mount say comes before its extents.
    Reach journalled(ext4);
    journalled.journalsData = true;
    Reach noCow(btrfs);
    noCow.noCow = true;
    Reach compressedMount(btrfs);
    compressedMount.compressed = true;
    auto causeOf = [](const std::optional<Verdict>& verdict) {
        return verdict ? verdict->cause : QStringLiteral("(reached)");
    };
    EXPECT_EQ(causeOf(judgeByExtents(journalled, before, before, 12288)),
              QStringLiteral("journal"));
    EXPECT_EQ(judgeByExtents(noCow, before, before, 12288), std::nullopt);
    EXPECT_EQ(causeOf(judgeByExtents(compressedMount, before, before, 12288)),
              QStringLiteral("compressed"));
    compressedMount.noCow = true; // btrfs compresses no such file
    EXPECT_EQ(judgeByExtents(compressedMount, before, before, 12288), std::nullopt);

    // A level that writes into a hole gives the file new places there: new data, not the
    // old data moved.
    const std::vector<fs::Extent> sparse{extent(8192, 65536, 4096)};
    EXPECT_EQ(judgeByExtents(ext4, sparse, std::vector{extent(0, 1 << 20, 8192), sparse[0]}, 12288),
              std::nullopt);
    EXPECT_EQ(causeOf(judgeByExtents(ext4, sparse, std::vector{extent(0, 1 << 20, 12288)}, 12288)),
              QStringLiteral("moved"));
}

// An overlay's layers as the mount table tells them, a ':' in a folder's name escaped.
TEST(Verdicts, OverlayLayersFromTheMountTable)
{
    const MountTable table = MountTable::parse(
        "90 1 0:50 / /merged rw - overlay overlay "
        "rw,lowerdir=/l\\134:1:/l2,upperdir=/u\\040p,workdir=/w\n"
        "91 1 0:51 / /m2 rw - overlay overlay rw,lowerdir+=/a,lowerdir+=/b,datadir+=/c\n");
    const MountRecord* first = table.findId(90);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->overlayLowers(), (QList<QByteArray>{"/l:1", "/l2"}));
    EXPECT_EQ(first->overlayUpper(), QByteArray("/u p"));
    ASSERT_NE(table.findId(91), nullptr);
    EXPECT_EQ(table.findId(91)->overlayLowers(), (QList<QByteArray>{"/a", "/b", "/c"}));
    EXPECT_TRUE(table.findId(91)->overlayUpper().isEmpty());
    EXPECT_EQ(table.findId(92), nullptr);
}

// One line of JSON a script can read, the path's bytes kept even when not UTF-8.
TEST(Verdicts, JsonCarriesTheLayerTheReasonAndWhatToDo)
{
    Verdict verdict = *judgeByExtents(fileSystemKindByName("btrfs"), std::nullopt, std::nullopt, 1);
    verdict.caveat = QStringLiteral("flash");
    const QByteArray line = verdict.json(QByteArray("/a \"b\"\n\xff\xc3\xa9"));
    EXPECT_FALSE(line.contains('\n'));
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line.constData();
    EXPECT_EQ(object.value("path").toString(),
              QStringLiteral("/a \"b\"\n") + QChar(0xdcff) + QChar(0xe9));
    EXPECT_FALSE(object.value("destroyed").toBool());
    EXPECT_EQ(object.value("kind").toString(), QStringLiteral("not-reached"));
    EXPECT_EQ(object.value("layer").toString(), QStringLiteral("file system"));
    EXPECT_EQ(object.value("verdict").toString(), verdict.text());
    EXPECT_EQ(object.value("reason").toString(), verdict.detail);
    EXPECT_EQ(object.value("advice").toString(), verdict.advice);
    EXPECT_EQ(object.value("caveat").toString(), QStringLiteral("flash"));
    EXPECT_TRUE(verdict.explained().startsWith(
        QStringLiteral("not reached (copy-on-write), file system layer: btrfs writes")));
    EXPECT_TRUE(verdict.explained().endsWith(QStringLiteral("; flash")));
    EXPECT_TRUE(
        verifiedVerdict(QStringLiteral("/dev/sda"))
            .json("x")
            .contains(
                "\"destroyed\":true,\"verdict\":\"verified on the device\",\"kind\":\"verified\","
                "\"layer\":\"device\""));
}

// The files of a test volume: each holds a marker of its own, repeated.
class Volume
{
public:
    explicit Volume(const QString& fsType, qint64 size, const QString& options = {},
                    const QStringList& mkfsOptions = {})
        : m_mount(test::LoopMount::create(fsType, size, &m_why, options, mkfsOptions))
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
        return wipeAtLevel(path, level, WipeEnv{runner, settings, stop, {}}).verdict;
    }
    void expect(const Verdict& verdict, Kind kind, const char* cause, const char* where)
    {
        EXPECT_EQ(verdict.kind, kind) << where << ": " << verdict.explained().toStdString();
        EXPECT_EQ(verdict.cause, QString::fromLatin1(cause)) << where;
    }

    test::RecordingRunner runner;
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
    // Old data that holds the last pass's byte (zero) here and there must be caught as
    // well as data that holds none of it.
    for (const QByteArray& kept :
         {QByteArray("<<KEPT-BY-A-LIAR>>"), QByteArray("<<KEPT>>\0\0\0\0\0\0\0\0\0\0", 18)}) {
        QString why;
        auto disk = test::PowerCutDisk::create(QStringLiteral("ext4"), 32 << 20, &why);
        if (!disk)
            GTEST_SKIP() << why.toStdString();
        const QByteArray path = disk->mountPoint() + "/lied-to";
        test::writeFile(path, kept.repeated(20000));
        disk->settle();
        ASSERT_TRUE(disk->loseWrites());
        settings.ScrambleNames = false;
        const Verdict verdict =
            WipeFileLeast(path, false, WipeEnv{runner, settings, stop, {}}).verdict;
        expect(verdict, Kind::NotReached, "not on the device", kept.left(8).constData());
        EXPECT_EQ(verdict.layer, Verdict::Layer::Device);
    }
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
            test::RecordingRunner childRunner;
            try {
                const Verdict verdict =
                    wipeAtLevel(path, WipeLevel::Least, WipeEnv{childRunner, settings, stop, {}})
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

// Compression and small files kept in the metadata: the old bytes stay in blocks btrfs
// no longer uses. A file marked to be overwritten in place is overwritten in place.
TEST_F(Verify, CompressedAndInlineBtrfsFilesAreNotReachedANoCowOneIsVerified)
{
    Volume volume(QStringLiteral("btrfs"), 256 << 20, QStringLiteral("compress=zstd,nodiscard"));
    if (!volume.ok())
        GTEST_SKIP() << volume.why();
    const QByteArray noCow = volume.file("nocow");
    test::writeFile(noCow, {});
    ASSERT_TRUE(test::runTool(QStringLiteral("chattr"), {"+C", QString::fromUtf8(noCow)}));
    volume.make("nocow", 1 << 20);
    for (WipeLevel level : kAllLevels) {
        const QByteArray n = QByteArray::number(int(level));
        const Verdict compressed = wipe(volume.make("compressed" + n, 8 << 20), level);
        expect(compressed, Kind::NotReached, "compressed", "compressed");
        EXPECT_FALSE(compressed.destroyed());
        expect(wipe(volume.make("inline" + n, 1000), level), Kind::NotReached, "inline", "inline");
    }
    EXPECT_GT(volume.left("nocow"), 0);
    const Verdict verdict = wipe(noCow, WipeLevel::Least);
    expect(verdict, Kind::Verified, "", "nocow");
    EXPECT_EQ(volume.left("nocow"), 0);
}

// data=journal writes every byte twice, once in the journal; inline data lives in the
// inode, which goes through the journal: neither is verified on the device.
TEST_F(Verify, Ext4JournalledAndInlineDataAreNotVerified)
{
    Volume journalled(QStringLiteral("ext4"), 64 << 20, QStringLiteral("data=journal"));
    if (!journalled.ok())
        GTEST_SKIP() << journalled.why();
    const Verdict verdict = wipe(journalled.make("journalled"), WipeLevel::Least);
    expect(verdict, Kind::NotReached, "journal", "data=journal");
    EXPECT_GT(journalled.left("journalled"), 0) << "the journal keeps it";

    Volume small(QStringLiteral("ext4"), 64 << 20, {}, {"-O", "inline_data", "-I", "1024"});
    ASSERT_TRUE(small.ok()) << small.why();
    for (int length : {40, 800})
        expect(wipe(small.make("inline" + QByteArray::number(length), length), WipeLevel::High),
               Kind::NotReached, "inline", "inline_data");
}

// A level that fills a sparse file's holes gives it new places: not taken for moved data.
// The least level writes only where the file holds data, pass after pass.
TEST_F(Verify, ASparseFileIsVerifiedAndOnlyItsDataWritten)
{
    for (const char* type : {"ext4", "xfs"}) {
        Volume volume(QString::fromLatin1(type), QString(type) == "xfs" ? 320 << 20 : 64 << 20);
        if (!volume.ok())
            GTEST_SKIP() << volume.why();
        const QByteArray path = volume.file("sparse");
        const QByteArray data = volume.marker("sparse").repeated(8192);
        for (WipeLevel level : {WipeLevel::Least, WipeLevel::Medium}) {
            QFile file(QString::fromUtf8(path));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            ASSERT_TRUE(file.seek(1 << 20));
            file.write(data);
            file.close();
            EXPECT_GT(volume.left("sparse"), 0);
            qint64 written = 0;
            WipeEnv env{runner, settings, stop, {}};
            env.onWritten = [&](std::size_t bytes) { written += qint64(bytes); };
            expect(wipeAtLevel(path, level, env).verdict, Kind::Verified, "", type);
            EXPECT_EQ(volume.left("sparse"), 0) << type;
            if (level == WipeLevel::Least) {
                EXPECT_EQ(written, 3 * data.size()) << type << ": a hole was written";
            }
        }
    }
}

// An overlay's lower layer is out of reach of writes through the overlay: such a file is
// refused before anything is copied up. A file of the upper layer alone is destroyed
// there, and judged on the upper layer's file system.
TEST_F(Verify, AnOverlayRefusesALowerFileAndVerifiesAnUpperOne)
{
    Volume volume(QStringLiteral("ext4"), 64 << 20);
    if (!volume.ok())
        GTEST_SKIP() << volume.why();
    for (const char* folder : {"lower", "upper", "work", "merged"})
        ASSERT_EQ(::mkdir(volume.file(folder).constData(), 0755), 0);
    const QByteArray lowerFile = volume.make("lower/low");
    const QByteArray original = test::readFile(lowerFile);
    volume.make("upper/up");
    const QString merged = QString::fromUtf8(volume.file("merged"));
    if (!test::runTool(QStringLiteral("mount"),
                       {"-t", "overlay", "overlay", "-o",
                        QStringLiteral("lowerdir=%1,upperdir=%2,workdir=%3")
                            .arg(QString::fromUtf8(volume.file("lower")),
                                 QString::fromUtf8(volume.file("upper")),
                                 QString::fromUtf8(volume.file("work"))),
                        merged}))
        GTEST_SKIP() << "this kernel mounts no overlay here";
    try {
        (void)wipe(volume.file("merged/low"), WipeLevel::Least);
        ADD_FAILURE() << "a lower layer's file was wiped";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), EXDEV);
        EXPECT_TRUE(error.message().contains(QString::fromUtf8(lowerFile))) << error.what();
    }
    EXPECT_FALSE(test::exists(volume.file("upper/low"))) << "copied up";
    EXPECT_EQ(test::readFile(volume.file("merged/low")), original);

    const Verdict verdict = wipe(volume.file("merged/up"), WipeLevel::Least);
    expect(verdict, Kind::Verified, "", "upper");
    EXPECT_TRUE(verdict.detail.startsWith(QStringLiteral("read back from /dev/loop")));
    EXPECT_FALSE(test::exists(volume.file("upper/up")));
    ASSERT_TRUE(test::runTool(QStringLiteral("umount"), {merged}));
    const std::vector<long long> left =
        volume.left(std::vector<QByteArray>{"upper/up", "lower/low"});
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], 0);
    EXPECT_GT(left[1], 0) << "the lower layer is left as it was";
}

// Another program that has the file open could write the old bytes back, or keep reading
// them: refused before the first byte, and named; one that opens it during the run stops
// the run.
TEST_F(Verify, AFileOpenElsewhereIsRefusedAndOneOpenedDuringTheRunStopsIt)
{
    test::TempDir dir;
    const QByteArray path = dir.file("held");
    const QByteArray content = QByteArray("<<HELD>>").repeated(400000); // 3.2 MB, 4 pieces
    test::writeFile(path, content);
    {
        test::Child holder({"/bin/sh", "-c", "exec 3<\"$0\"; echo open; exec sleep 600", path}, {});
        ASSERT_TRUE(holder.started());
        while (!holder.out.contains("open"))
            ASSERT_TRUE(holder.pump(1000));
        // The shell says "open" before it becomes sleep, which the refusal names.
        const QByteArray comm = "/proc/" + QByteArray::number(holder.pid()) + "/comm";
        while (test::exists(comm) && test::readFile(comm) != "sleep\n")
            ::usleep(1000);
        try {
            (void)wipe(path, WipeLevel::Least);
            ADD_FAILURE() << "wiped while open elsewhere";
        } catch (const Error& error) {
            EXPECT_EQ(error.code(), EBUSY);
            EXPECT_TRUE(
                error.message().contains(QStringLiteral("sleep (process %1)").arg(holder.pid())))
                << error.what();
        }
        holder.signalGroup(SIGKILL);
        holder.wait();
    }
    EXPECT_EQ(test::readFile(path), content) << "nothing written";

    // Opened at the end of the first pass: each pass keeps the one description open, and
    // the check before the next pass's first write still tells another one apart.
    int pieces = 0;
    int opened = -1;
    WipeEnv env{runner, settings, stop, {}};
    env.onWritten = [&](std::size_t) {
        if (++pieces == 4)
            opened = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    };
    try {
        (void)wipeAtLevel(path, WipeLevel::Least, env);
        ADD_FAILURE() << "went on after the file was opened";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), EBUSY) << error.what();
        EXPECT_TRUE(error.message().startsWith(QStringLiteral("Another program opened the file")));
    }
    EXPECT_EQ(pieces, 4);
    EXPECT_TRUE(test::exists(path));
    ::close(opened);
    // Alone again: destroyed. A name made for it during the run is told.
    const QByteArray link = dir.file("made-meanwhile");
    env.onWritten = [&](std::size_t) {
        if (!test::exists(link)) {
            ASSERT_EQ(::link(path.constData(), link.constData()), 0);
        }
    };
    const WipeOutcome outcome = wipeAtLevel(path, WipeLevel::Least, env);
    EXPECT_TRUE(outcome.verdict.destroyed());
    EXPECT_EQ(outcome.otherNames, 1u);
    EXPECT_FALSE(test::exists(path));
}

// Someone who may rename entries in the folder (not the file's owner, not root) swaps the
// name with another file as fast as they can: the delete reaches the named file or
// nothing, never the other.
TEST_F(Verify, ANameExchangedDuringTheDeleteNeverDeletesTheOtherFile)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "another user needs root to be made";
    const uid_t nobody = 65534;
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().constData(), 0755), 0);
    const QByteArray folder = dir.file("shared");
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    ASSERT_EQ(::chown(folder.constData(), nobody, nobody), 0);
    const QByteArray named = folder + "/named", other = folder + "/other";
    const WipeEnv env{runner, settings, stop, {}};
    int destroyed = 0;
    for (int trial = 0; trial < 50; ++trial) {
        test::writeFile(named, "NAMED");
        test::writeFile(other, "OTHER");
        ASSERT_EQ(::chown(other.constData(), nobody, nobody), 0);
        WipeTarget target = WipeTarget::prepare(named, WipeTarget::Rules{}, env);
        struct stat first = {};
        ASSERT_EQ(::lstat(named.constData(), &first), 0);
        const pid_t swapper = ::fork();
        if (swapper == 0) {
            if (::setresgid(nobody, nobody, nobody) != 0 ||
                ::setresuid(nobody, nobody, nobody) != 0)
                ::_exit(1);
            for (;;)
                ::renameat2(AT_FDCWD, named.constData(), AT_FDCWD, other.constData(),
                            RENAME_EXCHANGE);
        }
        // Under way once the name has been seen swapped.
        for (struct stat now = first; now.st_ino == first.st_ino;) {
            ::lstat(named.constData(), &now);
            ASSERT_EQ(::waitpid(swapper, nullptr, WNOHANG), 0) << "the swapper ended";
        }
        // Before some of the steps (chosen at random), the next swap is awaited: whatever
        // step a check and its action are apart, a swap lands between them in some trials.
        QRandomGenerator random{quint32(trial)};
        runner.onBlocking = [&] {
            struct stat was = {};
            if (random.bounded(2) == 0 || ::lstat(named.constData(), &was) != 0)
                return;
            for (struct stat now = was; now.st_ino == was.st_ino;) {
                if (::lstat(named.constData(), &now) != 0 ||
                    ::waitpid(swapper, nullptr, WNOHANG) != 0)
                    return;
            }
        };
        try {
            target.remove();
            ++destroyed;
        } catch (const Error& error) {
            EXPECT_EQ(error.message(), kReplacedText) << error.what();
        }
        runner.onBlocking = nullptr;
        ::kill(swapper, SIGKILL);
        ::waitpid(swapper, nullptr, 0);
        const bool otherLives = (test::exists(named) && test::readFile(named) == "OTHER") ||
                                (test::exists(other) && test::readFile(other) == "OTHER");
        ASSERT_TRUE(otherLives) << "trial " << trial << ": the other file was deleted";
        EXPECT_EQ(QDir(QString::fromUtf8(folder))
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                      .size(),
                  int(test::exists(named)) + int(test::exists(other)))
            << "nothing left behind";
        ::unlink(named.constData());
        ::unlink(other.constData());
    }
    std::cout << "[          ] destroyed in " << destroyed << " of 50 trials\n";
}

} // namespace
} // namespace ov
