// Figures for the wipe engine, each measured side by side with its yardstick in one run,
// with the machine's load (other work on the same cores and disk slows every contender):
//   wipe_bench [FOLDER [SECTION...]]   (default: the current folder; it must be on the disk
//   to measure; sections: duplicates limit many least high responsive slow memory)
// The verified wipe against what the device can do: the least level on 256 MiB against
// three flushed dd passes plus one O_DIRECT read of the file, the high level (33 passes)
// on 64 MiB against 33 such passes plus the read; on FOLDER's disk and, as root, on fresh
// ext4 and xfs loop volumes. Many files: 100,000 files of 1 KiB in 100 folders against
// `rm -rf` (the floor) and `find -type f -exec shred -u -n 1 {} +`, with peak memory.

#include "platform/BlockingRunner.h"
#ifdef OV_HAVE_TEST_FS
#include "support/FuseMount.h"
#include "support/LoopMount.h"
#endif
#include "wipe/RemoveDuplicates.h"
#include "wipe/WipeMethods.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace ov;

QByteArray folder = ".";

// A file of pseudo-random bytes on the disk, flushed, so every contender starts alike.
QByteArray makeFile(const char* name, qint64 size)
{
    QByteArray path = folder + "/" + name;
    int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buffer(1 << 20);
    quint32 x = 12345;
    for (char& c : buffer)
        c = char((x = x * 1103515245u + 12345u) >> 24);
    for (qint64 done = 0; done < size; done += qint64(buffer.size())) {
        const size_t length = size_t(std::min<qint64>(size - done, qint64(buffer.size())));
        if (::write(fd, buffer.data(), length) != ssize_t(length))
            std::fprintf(stderr, "could not write %s\n", path.constData());
    }
    ::fsync(fd);
    ::close(fd);
    return path;
}

double seconds(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e9;
}

void shell(const QString& command)
{
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
}

Settings settings;
StopChannel noStop;

Verdict wipeAt(WipeLevel level, const QByteArray& path, BlockingRunner& runner,
               bool readBack = true)
{
    WipeEnv env{runner, settings, noStop, {}};
    env.readBack = readBack;
    return wipeAtLevel(path, level, env).verdict;
}

// The machine's load over the last minute.
QByteArray load()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return "load " +
           (file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0) : QByteArray("?"));
}

// `passes` flushed dd passes of zeros over the file, then one O_DIRECT read of it: the
// least a verified overwrite can take on this device.
double deviceLimit(const QByteArray& path, qint64 size, int passes)
{
    const QString file = QString::fromUtf8(path);
    const QString dd = QStringLiteral("for i in $(seq %1); do dd if=/dev/zero of='%2' bs=1M "
                                      "count=%3 conv=notrunc,fdatasync status=none; done; "
                                      "dd if='%2' of=/dev/null bs=4M iflag=direct status=none")
                           .arg(passes)
                           .arg(file)
                           .arg(size >> 20);
    const double took = seconds([&] { shell(dd); });
    ::unlink(path.constData());
    return took;
}

// A verified wipe at a level against its limit on the device, alternating who goes first.
void verifiedAtTheLimit(const char* where, WipeLevel level, qint64 size, int passes, double goal,
                        int rounds)
{
    InPlaceRunner loop;
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        double ours = 0, limit = 0;
        Verdict verdict;
        for (int turn = 0; turn < 2; ++turn) {
            const QByteArray path = makeFile("bench-limit", size);
            if ((turn == 0) == (round % 2 == 0))
                ours = seconds([&] { verdict = wipeAt(level, path, loop); });
            else
                limit = deviceLimit(path, size, passes);
        }
        ratios.push_back(ours / limit);
        std::printf("  %-22s level %d, %3lld MiB: %6.2f s   %d dd passes + direct read %6.2f s"
                    "   ratio %.2f (goal <= %.2f)   %s%s\n",
                    where, int(level), size >> 20, ours, passes, limit, ours / limit, goal,
                    load().constData(),
                    verdict.kind == Verdict::Kind::Verified ? "" : "  [not verified]");
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("  %-22s level %d median ratio %.2f (goal <= %.2f)\n", where, int(level),
                ratios[ratios.size() / 2], goal);
}

void verifiedOnEachDevice()
{
    std::printf("verified wipes against the device's limit:\n");
    const QByteArray home = folder;
    const auto both = [](const char* where) {
        // Medians of five alternating rounds: the disk is shared, one round proves little.
        verifiedAtTheLimit(where, WipeLevel::Least, 256 << 20, 3, 1.10, 5);
        verifiedAtTheLimit(where, WipeLevel::High, 64 << 20, 33, 1.05, 5);
    };
    both("this disk");
#ifdef OV_HAVE_TEST_FS
    for (const char* type : {"ext4", "xfs"}) {
        QString why;
        auto volume = test::LoopMount::create(QString::fromLatin1(type), qint64(768) << 20, &why);
        if (!volume) {
            std::printf("  %s loop volume: not measured (%s)\n", type, qPrintable(why));
            continue;
        }
        folder = volume->mountPoint();
        both(qPrintable(QStringLiteral("%1 loop volume").arg(QString::fromLatin1(type))));
        folder = home;
    }
#endif
}

// A tree of 100 folders of 1,000 files of 1 KiB each, on the disk.
QByteArray makeTree(const char* name)
{
    const QByteArray root = folder + "/" + name;
    QDir().mkpath(QFile::decodeName(root));
    const QByteArray content(1024, 'm');
    for (int f = 0; f < 100; ++f) {
        const QByteArray sub = root + "/d" + QByteArray::number(f);
        ::mkdir(sub.constData(), 0755);
        for (int i = 0; i < 1000; ++i) {
            const QByteArray path = sub + "/f" + QByteArray::number(i);
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::write(fd, content.constData(), size_t(content.size())) != 1024)
                std::fprintf(stderr, "could not write %s\n", path.constData());
            ::close(fd);
        }
    }
    ::sync();
    return root;
}

// Seconds and peak memory (MiB) of one command, and whether it ended well.
struct Measured
{
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

Measured measure(const std::vector<QByteArray>& argv)
{
    std::vector<char*> args;
    for (const QByteArray& arg : argv)
        args.push_back(const_cast<char*>(arg.constData()));
    args.push_back(nullptr);
    Measured m;
    QElapsedTimer clock;
    clock.start();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    ::wait4(child, &status, 0, &usage);
    m.seconds = double(clock.nsecsElapsed()) / 1e9;
    m.peakMiB = double(usage.ru_maxrss) / 1024.0;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

void manyFiles()
{
    std::printf("100,000 files of 1 KiB in 100 folders, in %s:\n", folder.constData());
    const auto show = [](const char* who, const Measured& m, const Measured& rm,
                         const Measured* shred) {
        std::printf("  %-44s %6.2f s  peak %5.1f MiB  x rm -rf %5.2f", who, m.seconds, m.peakMiB,
                    m.seconds / rm.seconds);
        if (shred)
            std::printf("  x shred %.3f", m.seconds / shred->seconds);
        std::printf("   %s%s\n", load().constData(), m.ok ? "" : "  [failed]");
    };
    QByteArray tree = makeTree("bench-tree");
    const Measured rm = measure({"rm", "-rf", tree});
    tree = makeTree("bench-tree");
    const Measured ours =
        measure({OV_CLI_PATH, "wipe", "--quiet", "--no-log", "-r", "-l", "1", tree});
    tree = makeTree("bench-tree");
    const Measured shred =
        measure({"find", tree, "-type", "f", "-exec", "shred", "-u", "-n", "1", "{}", "+"});
    shell(QStringLiteral("rm -rf '%1'").arg(QString::fromUtf8(tree)));
    show("rm -rf", rm, rm, nullptr);
    show("find -type f -exec shred -u -n 1 {} +", shred, rm, nullptr);
    show("ombrevault-cli wipe -r -l 1", ours, rm, &shred);
    std::printf("  goals: <= 3 x rm -rf, <= 0.2 x shred, < 64 MiB\n");
}

void leastAgainstTheDisk()
{
    const qint64 size = 256 << 20;
    InPlaceRunner loop;
    QByteArray path = makeFile("bench-least", size);
    Verdict verdict;
    const double least = seconds([&] { verdict = wipeAt(WipeLevel::Least, path, loop); });
    path = makeFile("bench-unverified", size);
    const double unverified = seconds([&] { (void)wipeAt(WipeLevel::Least, path, loop, false); });
    path = makeFile("bench-dd", size);
    const QString dd = QStringLiteral("for i in 1 2 3; do dd if=/dev/zero of='%1' bs=1M count=256 "
                                      "conv=notrunc,fdatasync status=none; done; rm -f '%1'")
                           .arg(QString::fromUtf8(path));
    const double disk = seconds([&] { shell(dd); });
    path = makeFile("bench-shred", size);
    const double shred = seconds([&] {
        shell(QStringLiteral("shred -n 3 --random-source=/dev/zero '%1'; rm -f '%1'")
                  .arg(QString::fromUtf8(path)));
    });
    std::printf("least level, 256 MiB:        %.2f s (%.0f MB/s), %s\n", least, 3 * 268.4 / least,
                qPrintable(verdict.explained()));
    std::printf("  without the read back:     %.2f s   verified/not = %.2f (goal <= 1.4)\n",
                unverified, least / unverified);
    std::printf("dd, 3 flushed passes:        %.2f s   least/dd    = %.2f (goal <= 1.15)\n", disk,
                least / disk);
    std::printf("shred -n 3 (zero source):    %.2f s   least/shred = %.2f (goal < 1)\n", shred,
                least / shred);
}

void highAgainstLeast()
{
    const qint64 size = 64 << 20;
    InPlaceRunner loop;
    QByteArray path = makeFile("bench-l64", size);
    const double least = seconds([&] { wipeAt(WipeLevel::Least, path, loop); });
    path = makeFile("bench-h64", size);
    const double high = seconds([&] { wipeAt(WipeLevel::High, path, loop); });
    path = makeFile("bench-m64", size);
    const double medium = seconds([&] { wipeAt(WipeLevel::Medium, path, loop); });
    std::printf(
        "64 MiB: least %.2f s, medium %.2f s, high %.2f s   high/least = %.2f (goal <= 12)\n",
        least, medium, high, high / least);
}

// The command-line companion wipes a 1 GiB file; its peak resident memory is read from
// the kernel when it has ended.
void peakMemory()
{
    for (const char* level : {"1", "2", "3"}) {
        QByteArray path = makeFile("bench-1g", qint64(1) << 30);
        pid_t child = ::fork();
        if (child == 0) {
            ::execl(OV_CLI_PATH, OV_CLI_PATH, "wipe", "--quiet", "--no-log", "--level", level,
                    path.constData(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        struct rusage usage = {};
        ::wait4(child, &status, 0, &usage);
        std::printf("peak memory, level %s on 1 GiB: %.1f MiB (goal < 64 MiB)%s\n", level,
                    double(usage.ru_maxrss) / 1024.0,
                    WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "  [wipe failed]");
        ::unlink(path.constData());
    }
}

// Runs `work` in the event loop and gives the longest pause between two ticks of a
// 10 ms timer meanwhile, and how long the work took.
std::pair<qint64, double> longestGapDuring(const std::function<void()>& work)
{
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (ticks++ > 0)
            longest = std::max(longest, sinceTick.elapsed());
        sinceTick.restart();
    });
    timer.start();
    sinceTick.start();
    const double took = seconds(work);
    timer.stop();
    return {longest, took};
}

// The longest pause of the event loop while a level wipes 256 MiB.
void responsiveness()
{
    WorkerThreadRunner loop;
    for (WipeLevel level : {WipeLevel::Least, WipeLevel::Medium, WipeLevel::High}) {
        QByteArray path = makeFile("bench-resp", 256 << 20);
        const auto [longest, took] = longestGapDuring([&] { wipeAt(level, path, loop); });
        std::printf("level %d, 256 MiB in the event loop: %.2f s, longest gap %lld ms "
                    "(goal <= 50)\n",
                    int(level), took, longest);
    }
}

// The same, on a file system that takes 200 ms to answer every call (a hung network
// share, a dying disk): the window must still serve its timer.
void responsivenessOnASlowDisk()
{
#ifdef OV_HAVE_TEST_FS
    QString why;
    auto slow = test::FuseMount::passthrough(folder, 200, false, &why);
    if (!slow) {
        std::printf("slow file system: not measured (%s)\n", qPrintable(why));
        return;
    }
    WorkerThreadRunner loop;
    Settings scrambling;
    scrambling.ScrambleNames = true;
    for (WipeLevel level : {WipeLevel::Least, WipeLevel::Medium, WipeLevel::High}) {
        makeFile("bench-slow", 64 << 10);
        const QByteArray path = slow->mountPoint() + "/bench-slow";
        const auto [longest, took] = longestGapDuring([&] {
            (void)wipeAtLevel(path, level, WipeEnv{loop, scrambling, noStop, {}});
        });
        std::printf("level %d, 64 KiB on a disk answering in 200 ms: %.1f s, longest gap %lld ms "
                    "(goal <= 50)\n",
                    int(level), took, longest);
    }
#else
    std::printf("slow file system: not measured (built without the tests)\n");
#endif
}

void duplicates()
{
    std::vector<QByteArray> list;
    const QByteArray prefix = "/home/somebody/Documents/projects/" + QByteArray(180, 'd') + "/";
    for (int i = 0; i < 32767; ++i)
        list.push_back(prefix + "file-" + QByteArray::number(i % 16384) + ".dat");
    WorkerThreadRunner loop;
    int removed = 0;
    const double took = seconds([&] { removed = RemoveDuplicates(list, loop); });
    std::printf("RemoveDuplicates, 32,767 entries, %d removed: %.3f s (goal < 1 s)\n", removed,
                took);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1)
        folder = argv[1];
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // Sections by name after the folder; all of them without.
    const auto wanted = [&](const char* section) {
        return argc <= 2 || std::any_of(argv + 2, argv + argc, [&](const char* arg) {
                   return qstrcmp(arg, section) == 0;
               });
    };
    const std::pair<const char*, void (*)()> sections[] = {
        {"duplicates", duplicates},
        {"limit", verifiedOnEachDevice},
        {"many", manyFiles},
        {"least", leastAgainstTheDisk},
        {"high", highAgainstLeast},
        {"responsive", responsiveness},
        {"slow", responsivenessOnASlowDisk},
        {"memory", peakMemory},
    };
    for (const auto& [name, section] : sections) {
        if (wanted(name))
            section();
    }
    return 0;
}
