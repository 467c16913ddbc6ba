// Many small files at the least level, side by side with shred, each followed at once by
// a forensic search of the raw volume for what the files held:
//   small_files_bench [FOLDER]   (FOLDER: on this machine's disk; default: the current one)
// The loop-mounted ext4 and xfs volumes need root; their images live in the temporary
// folder.

#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

namespace {

using namespace ov;

constexpr int kFiles = 1000;
constexpr int kSize = 4096;
const QByteArray kMarker = "<<SMALL-FILE>>";

// kFiles files of kSize bytes of markers, on the disk before the wipe as a user's are.
QStringList makeFiles(const QByteArray& folder)
{
    QStringList files;
    const QByteArray content = kMarker.repeated(kSize / kMarker.size() + 1).left(kSize);
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray path = folder + "/f" + QByteArray::number(i);
        test::writeFile(path, content);
        files << QFile::decodeName(path);
    }
    QProcess::execute(QStringLiteral("sync"), {});
    return files;
}

// Seconds a program takes over the files, and whether it ended well.
std::pair<double, bool> timed(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    const bool ok = process.waitForFinished(600000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return {double(clock.nsecsElapsed()) / 1e9, ok};
}

// The machine's load averages (1, 5 and 15 minutes), beside each figure: other work on
// the same cores and disk slows every contender.
QByteArray load()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "load unknown";
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() < 3 ? "load unknown"
                             : "load " + fields[0] + ' ' + fields[1] + ' ' + fields[2];
}

struct Contender
{
    const char* name;
    QString program;
    QStringList options;
};

const Contender kOmbrevault{"ombrevault-cli wipe -l least",
                            QStringLiteral(OV_CLI_PATH),
                            {"wipe", "-q", "--no-log", "-l", "least"}};
const Contender kShred{
    "shred -u -n 3", QStringLiteral("shred"), {"-u", "-n", "3", "--random-source=/dev/zero"}};

// Runs one contender over fresh files in `folder`; the markers still on `image` right
// after it returns (nothing more flushed or unmounted first), or -1 without an image.
std::pair<double, long long> round(const Contender& who, const QByteArray& folder,
                                   const QByteArray& image)
{
    const QStringList files = makeFiles(folder);
    const auto [seconds, ok] = timed(who.program, who.options + files);
    if (!ok)
        std::printf("  (%s failed)\n", who.name);
    return {seconds, image.isEmpty() ? -1 : test::countOccurrences(image, kMarker)};
}

void onVolume(const char* fsType)
{
    QString why;
    auto volume = test::LoopMount::create(QString::fromLatin1(fsType), qint64(512) << 20, &why);
    if (!volume) {
        std::printf("%-5s loop volume: not measured (%s)\n", fsType, qPrintable(why));
        return;
    }
    const auto [ours, oursLeft] = round(kOmbrevault, volume->mountPoint(), volume->imagePath());
    const auto [shred, shredLeft] = round(kShred, volume->mountPoint(), volume->imagePath());
    std::printf("%-5s loop volume: ombrevault %.2f s (markers left %lld)   shred %.2f s "
                "(markers left %lld)   ratio %.3f (goal <= 0.2), %s 2 s   [%s]\n",
                fsType, ours, oursLeft, shred, shredLeft, ours / shred,
                ours <= 2 ? "within" : "NOT within", load().constData());
}

void onTheFolder(const QByteArray& folder)
{
    test::TempDir dir(folder);
    const auto [ours, unused] = round(kOmbrevault, dir.path(), {});
    const auto [shred, unused2] = round(kShred, dir.path(), {});
    // The same files deleted without any overwriting: what the volume's deletes cost.
    makeFiles(dir.path());
    QStringList files;
    for (int i = 0; i < kFiles; ++i)
        files << QFile::decodeName(dir.file("f" + QByteArray::number(i)));
    const double rm = timed(QStringLiteral("rm"), QStringList{"-f"} + files).first;
    std::printf("%s (this disk): ombrevault %.2f s   shred %.2f s   ratio %.3f (goal <= 0.2), "
                "%s 2 s   rm alone %.2f s   [%s]\n",
                folder.constData(), ours, shred, ours / shred, ours <= 2 ? "within" : "NOT within",
                rm, load().constData());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray folder = QFile::encodeName(
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath()).absolutePath());
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("%d files of %d bytes, least level (3 passes, each on the disk before the next "
                "and before the delete)\n",
                kFiles, kSize);
    for (const char* fsType : {"ext4", "xfs"})
        onVolume(fsType);
    onTheFolder(folder);
    return 0;
}
