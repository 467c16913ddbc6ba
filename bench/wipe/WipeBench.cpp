// Figures for the wipe engine, each measured side by side with its yardstick in one run:
//   wipe_bench [FOLDER]   (default: the current folder; it must be on the disk to measure)

#include "platform/EngineHost.h"
#ifdef OV_HAVE_TEST_FS
#include "support/FuseMount.h"
#endif
#include "wipe/RemoveDuplicates.h"
#include "wipe/WipeMethods.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
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

Verdict wipeAt(WipeLevel level, const QByteArray& path, EngineHost& host, bool readBack = true)
{
    WipeEnv env{host, settings, noStop, {}};
    env.readBack = readBack;
    return WipeAtLevel(path, level, env).verdict;
}

void leastAgainstTheDisk()
{
    const qint64 size = 256 << 20;
    DirectEngineHost loop;
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
    DirectEngineHost loop;
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
    QtEngineHost loop;
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
    QtEngineHost loop;
    Settings scrambling;
    scrambling.ScrambleNames = true;
    for (WipeLevel level : {WipeLevel::Least, WipeLevel::Medium, WipeLevel::High}) {
        makeFile("bench-slow", 64 << 10);
        const QByteArray path = slow->mountPoint() + "/bench-slow";
        const auto [longest, took] = longestGapDuring([&] {
            (void)WipeAtLevel(path, level, WipeEnv{loop, scrambling, noStop, {}});
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
    QtEngineHost loop;
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
    duplicates();
    leastAgainstTheDisk();
    highAgainstLeast();
    responsiveness();
    responsivenessOnASlowDisk();
    peakMemory();
    return 0;
}
