// Fills volumes with the free-space run and, side by side, identical volumes with its two
// yardsticks until they are full, in rotating order: `dd bs=4M oflag=direct` (what the
// device can do) and `dd bs=1M conv=fdatasync` (buffered writing). Fresh 1 GiB ext4 and
// xfs loop volumes and a 2 GiB ext4 one made anew for every fill; then, where direct
// writing does not pay or is not offered, the run must not fall behind buffered dd: tmpfs,
// btrfs, ext4 journalling its data (no direct writes), an almost full ext4 volume. The run
// is timed up to its file's deletion, dd alone (and with the deletion of its file). Prints
// every round with the machine's load, the medians, the peak memory and the longest gap
// between two ticks of a 10 ms timer in the event loop during the run's fills. Needs root.
// Direct dd is timed alone and with the volume's flush after it: without the flush its writes
// may still sit in a cache below the volume (a loop device's image, a virtual disk), and the
// run may count nothing before its own flush.
//   diskclean_bench [ROUNDS [SETUP...]]   (SETUP: the number of a volume above, from 0)
#include "diskclean/FreeSpaceRun.h"
#include "platform/LinuxVolumes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

bool run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    return process.waitForStarted() && process.waitForFinished(-1) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

struct Setup
{
    const char* type; // a mkfs type, or "tmpfs"
    qint64 size;
    const char* options; // mount options
    qint64 ballastLeft;  // > 0: filled up to this much free before the fills
};

// One volume in a sparse image (or a tmpfs), mounted on a folder of its own.
class Volume
{
public:
    Volume(const QString& base, const QString& name, const Setup& setup)
        : m_image(base + "/" + name + ".img"), m_point(base + "/" + name)
    {
        QDir().mkpath(m_point);
        const QString type = setup.type;
        QString options = setup.options;
        if (type == "tmpfs") {
            m_ok = run("mount", {"-t", "tmpfs", "-o", "size=" + QString::number(setup.size),
                                 "tmpfs", m_point});
        } else {
            QFile image(m_image);
            m_ok = image.open(QIODevice::WriteOnly) && image.resize(setup.size);
            image.close();
            // No background initialisation: mkfs writes its tables now.
            const QStringList mkfs =
                type == "ext4"
                    ? QStringList{"-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0"}
                    : QStringList{"-q", "-f"};
            m_ok = m_ok && run("mkfs." + type, mkfs + QStringList{m_image}) &&
                   run("mount",
                       {"-o", options.isEmpty() ? "loop" : "loop," + options, m_image, m_point});
        }
        if (m_ok && setup.ballastLeft > 0) {
            // Ballast up to the last stretch, flushed: only that stretch is timed.
            const QString ballast = m_point + "/ballast";
            run("fallocate", {"-l", QString::number(ballastBytes(setup.ballastLeft)), ballast});
            ::sync();
        }
    }
    ~Volume()
    {
        if (m_ok)
            run("umount", {m_point});
        QFile::remove(m_image);
        QDir().rmdir(m_point);
    }
    bool ok() const { return m_ok; }
    QString point() const { return m_point; }

private:
    qint64 ballastBytes(qint64 left) const
    {
        struct statvfs facts = {};
        if (::statvfs(QFile::encodeName(m_point).constData(), &facts) != 0)
            return 0;
        return std::max<qint64>(0, qint64(facts.f_bavail) * qint64(facts.f_frsize) - left);
    }
    QString m_image;
    QString m_point;
    bool m_ok = false;
};

void dropCaches()
{
    ::sync();
    if (FILE* drop = std::fopen("/proc/sys/vm/drop_caches", "w")) {
        std::fputs("3\n", drop);
        std::fclose(drop);
    }
}

// The machine's load over the last minute: the fills share the processors and the disk
// with whatever else runs.
QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0) : QByteArray("?");
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

struct Fill
{
    double seconds = 0;
    double flushSeconds = 0;  // direct dd: the volume's flush after it, not in `seconds`
    double deleteSeconds = 0; // dd's file, deleted after it was timed
    double namesSeconds = 0;  // the run's clearing of names, within `seconds`
    qint64 directBytes = 0;   // the run's, written past the page cache
    qint64 bytes = 0;
    QString lastText; // the run's: its first line on what it could not reach, or its status
    double rate(double time) const { return time > 0 ? bytes / time / (1 << 20) : 0; }
    double mibPerSecond() const { return rate(seconds); }
    double flushedMibPerSecond() const { return rate(seconds + flushSeconds); }
};

// dd until the volume refuses more: direct, or buffered and flushed.
Fill fillWithDd(const Volume& volume, bool direct)
{
    const QString target = volume.point() + "/dd.fill";
    QElapsedTimer clock;
    clock.start();
    // dd ends with "No space left on device"; the flush of what it wrote is part of it.
    run("dd", {"if=/dev/zero", "of=" + target, direct ? "bs=4M" : "bs=1M",
               direct ? "oflag=direct" : "conv=fdatasync"});
    Fill fill;
    fill.seconds = clock.nsecsElapsed() / 1e9;
    fill.bytes = QFileInfo(target).size();
    clock.restart();
    const int point = ::open(QFile::encodeName(volume.point()).constData(), O_RDONLY | O_CLOEXEC);
    if (point >= 0) {
        ::syncfs(point);
        ::close(point);
    }
    fill.flushSeconds = clock.nsecsElapsed() / 1e9;
    clock.restart();
    QFile::remove(target);
    fill.deleteSeconds = clock.nsecsElapsed() / 1e9;
    return fill;
}

// How long this thread has waited for a processor (ns): a gap the thread spent waiting
// for one, on a machine busy with other work, is no pause the program made.
qint64 waitedForProcessor()
{
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(1).toLongLong() : 0;
}

class SilentView : public ov::FreeSpaceView
{
public:
    explicit SilentView(QByteArray designator) : m_designator(std::move(designator)) {}
    QByteArray driveDesignator() const override { return m_designator; }
    // The time spent clearing names (its status text shows), which dd does not do.
    void setStatusText(const QString& text) override
    {
        m_lastText = text;
        const bool names = text.startsWith(QLatin1String("Clearing names"));
        if (names && !m_inNames.isValid())
            m_inNames.start();
        else if (!names && m_inNames.isValid())
            m_namesNs += m_inNames.nsecsElapsed(), m_inNames.invalidate();
    }
    // What the run showed last: where it is.
    const QString& lastText() const { return m_lastText; }
    double namesSeconds() const
    {
        return (m_namesNs + (m_inNames.isValid() ? m_inNames.nsecsElapsed() : 0)) / 1e9;
    }
    void setCleanedText(const QString&) override {}
    void setLeftText(const QString&) override {}
    void setStopInFront(bool) override {}
    void setStartEnabled(bool) override {}
    void setDriveListEnabled(bool) override {}
    void showErrorReport(int, const QString& text) override
    {
        std::fprintf(stderr, "report: %s\n", qPrintable(text));
    }
    void showUnreached(const QStringList& lines) override { m_unreached = lines; }
    const QStringList& unreached() const { return m_unreached; }

private:
    QByteArray m_designator;
    QString m_lastText;
    QStringList m_unreached;
    QElapsedTimer m_inNames;
    qint64 m_namesNs = 0;
};

Fill fillWithRun(const Volume& volume, qint64* longestGapMs)
{
    ov::WorkerThreadRunner loop;
    ov::LinuxVolumes volumes(loop);
    ov::CDriveInfo info(volumes);
    const QByteArray point = QFile::encodeName(volume.point());
    info.setRootPath(point);
    SilentView view(point);
    ov::Settings settings;
    ov::StopChannel stop;
    ov::FreeSpaceRun fillRun(info, view, loop, stop, settings, nullptr);

    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QString gapAfter; // the status shown when the longest gap ended
    qint64 waitedAtTick = 0, gapWaited = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 waited = waitedForProcessor();
        if (sinceTick.isValid() && sinceTick.elapsed() > longest) {
            longest = sinceTick.elapsed();
            gapAfter = view.lastText();
            gapWaited = waited - waitedAtTick;
        }
        waitedAtTick = waited;
        sinceTick.start();
    });

    QElapsedTimer clock;
    QTimer::singleShot(0, [&] {
        ticker.start();
        sinceTick.start();
        clock.start();
        fillRun.run();
        // The gap up to the end counts as well.
        if (sinceTick.elapsed() > longest) {
            longest = sinceTick.elapsed();
            gapAfter = view.lastText() + QStringLiteral(" (the end)");
            gapWaited = waitedForProcessor() - waitedAtTick;
        }
        ticker.stop();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    Fill fill;
    fill.seconds = clock.nsecsElapsed() / 1e9;
    fill.bytes = fillRun.cleanedBytes();
    fill.directBytes = fillRun.fillWriter().directBytes();
    fill.namesSeconds = view.namesSeconds();
    fill.lastText = view.unreached().value(0, view.lastText());
    *longestGapMs = longest;
    if (longest > 50)
        std::printf("  (gap of %lld ms, %lld ms of it waiting for a processor, at \"%s\")\n",
                    static_cast<long long>(longest), static_cast<long long>(gapWaited / 1000000),
                    qPrintable(gapAfter));
    return fill;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::fputs("diskclean_bench: loop mounts need root\n", stderr);
        return 1;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QString base = QDir::tempPath() + "/ov-fill-bench-XXXXXX";
    QByteArray baseBytes = QFile::encodeName(base);
    if (!::mkdtemp(baseBytes.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    base = QFile::decodeName(baseBytes);

    const qint64 mib = 1 << 20;
    const Setup setups[] = {
        {"ext4", 1024 * mib, "", 0},        {"xfs", 1024 * mib, "", 0},
        {"ext4", 2048 * mib, "", 0},        {"tmpfs", 1024 * mib, "", 0},
        {"btrfs", 1024 * mib, "", 0},       {"ext4", 1024 * mib, "data=journal", 0},
        {"ext4", 1024 * mib, "", 48 * mib},
    };
    qint64 worstGap = 0;
    const char* names[] = {"free-space run", "dd bs=4M oflag=direct", "dd bs=1M conv=fdatasync"};
    for (const Setup& setup : setups) {
        const int number = int(&setup - setups);
        if (argc > 2 && !std::any_of(argv + 2, argv + argc,
                                     [&](const char* arg) { return std::atoi(arg) == number; }))
            continue;
        std::printf(
            "\n%s%s%s, %lld MiB%s: a fresh volume for every fill, %d rounds (order "
            "rotating)\n",
            setup.type, *setup.options ? " -o " : "", setup.options, setup.size >> 20,
            setup.ballastLeft
                ? qPrintable(
                      QStringLiteral(", ballast up to %1 MiB free").arg(setup.ballastLeft >> 20))
                : "",
            rounds);
        std::printf("%-6s %-28s %-38s %-28s %s\n", "round", "run (to its file's deletion)",
                    names[1], names[2],
                    "run/(direct dd + flush), run/buffered dd; run/direct dd unflushed");
        std::vector<double> speeds[3], toDirect, toBuffered, toUnflushed, flushed;
        for (int round = 1; round <= rounds; ++round) {
            Fill fills[3];
            qint64 gap = 0;
            for (int turn = 0; turn < 3; ++turn) {
                const int tool = (turn + round - 1) % 3;
                Volume volume(base, QString::fromLatin1("v%1").arg(tool), setup);
                if (!volume.ok()) {
                    std::fprintf(stderr, "diskclean_bench: could not make a %s volume\n",
                                 setup.type);
                    return 1;
                }
                dropCaches();
                fills[tool] = tool == 0 ? fillWithRun(volume, &gap) : fillWithDd(volume, tool == 1);
            }
            if (fills[0].bytes == 0) {
                // A volume in memory: nothing deleted survives there, so the run fills nothing.
                std::printf("%-6d run: nothing to fill (\"%s\"); dd %.2f s and %.2f s\n", round,
                            qPrintable(fills[0].lastText), fills[1].seconds, fills[2].seconds);
                continue;
            }
            const double ratioDirect = fills[0].mibPerSecond() / fills[1].flushedMibPerSecond();
            const double ratioBuffered = fills[0].mibPerSecond() / fills[2].mibPerSecond();
            const double ratioUnflushed = fills[0].mibPerSecond() / fills[1].mibPerSecond();
            std::printf("%-6d", round);
            for (const Fill& fill : fills) {
                std::printf(" %7.1f MiB/s (%4lld MiB %5.2f s", fill.mibPerSecond(),
                            fill.bytes >> 20, fill.seconds);
                if (&fill == &fills[1])
                    std::printf(" + flush %4.2f s", fill.flushSeconds);
                std::printf(")");
            }
            // Without its names step the run does what dd does.
            const double writing = fills[0].seconds - fills[0].namesSeconds;
            std::printf(
                "  %.2f, %.2f; %.2f   names %.2f s (without: %.2f, %.2f)   direct %lld MiB, "
                "tick gap %lld ms, load %s\n",
                ratioDirect, ratioBuffered, ratioUnflushed, fills[0].namesSeconds,
                fills[0].rate(writing) / fills[1].flushedMibPerSecond(),
                fills[0].rate(writing) / fills[2].mibPerSecond(), fills[0].directBytes >> 20,
                static_cast<long long>(gap), loadAverage().constData());
            std::fflush(stdout);
            for (int tool = 0; tool < 3; ++tool)
                speeds[tool].push_back(fills[tool].mibPerSecond());
            flushed.push_back(fills[1].flushedMibPerSecond());
            toDirect.push_back(ratioDirect);
            toBuffered.push_back(ratioBuffered);
            toUnflushed.push_back(ratioUnflushed);
            worstGap = std::max(worstGap, gap);
        }
        if (speeds[0].empty())
            continue;
        std::printf("median: run %.1f MiB/s, direct dd %.1f MiB/s (%.1f with its flush), "
                    "buffered dd %.1f MiB/s; run / (direct dd + flush) %.2f (goal >= 0.90), "
                    "run / buffered dd %.2f (goal >= 1.00), run / direct dd unflushed %.2f\n",
                    median(speeds[0]), median(speeds[1]), median(flushed), median(speeds[2]),
                    median(toDirect), median(toBuffered), median(toUnflushed));
    }
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("\npeak memory (ru_maxrss): %.1f MiB (goal < 64 MiB)\n", usage.ru_maxrss / 1024.0);
    std::printf("longest gap between two ticks of the 10 ms timer: %lld ms (goal <= 50 ms)\n",
                static_cast<long long>(worstGap));
    QDir(base).removeRecursively();
    return 0;
}
