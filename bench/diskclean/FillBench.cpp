// Fills loop-mounted volumes with the free-space run and, side by side, identical volumes
// with dd (bs=1M, conv=fdatasync) until they are full, in alternating order: fresh 512 MiB
// ext4 and xfs volumes made anew for every fill, and a 1 GiB ext4 volume made once (its
// image allocated by an unmeasured fill first). The run is timed up to its file's
// deletion, so dd is shown both alone and with the deletion of its file; prints every
// round, the medians, the peak memory and the longest gap between two ticks of a 10 ms
// timer in the event loop during the run's fills. Needs root.
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
#include <memory>
#include <sys/resource.h>
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

// One volume in a sparse image, mounted on a folder of its own.
class Volume
{
public:
    Volume(const QString& base, const QString& name, const QString& type, qint64 size)
        : m_image(base + "/" + name + ".img"), m_point(base + "/" + name)
    {
        QDir().mkpath(m_point);
        QFile image(m_image);
        m_ok = image.open(QIODevice::WriteOnly) && image.resize(size);
        image.close();
        // No background initialisation: mkfs writes its tables now.
        const QStringList mkfs = type == "ext4" ? QStringList{"-q", "-F", "-E",
                                                              "lazy_itable_init=0,"
                                                              "lazy_journal_init=0"}
                                                : QStringList{"-q", "-f"};
        m_ok = m_ok && run("mkfs." + type, mkfs + QStringList{m_image}) &&
               run("mount", {"-o", "loop", m_image, m_point});
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
    double deleteSeconds = 0; // dd's file, deleted after it was timed
    qint64 bytes = 0;
    double rate(double time) const { return time > 0 ? bytes / time / (1 << 20) : 0; }
    double mibPerSecond() const { return rate(seconds); }
};

Fill fillWithDd(const Volume& volume)
{
    const QString target = volume.point() + "/dd.fill";
    QElapsedTimer clock;
    clock.start();
    // dd ends with "No space left on device"; the flush of what it wrote is part of it.
    run("dd", {"if=/dev/zero", "of=" + target, "bs=1M", "conv=fdatasync"});
    Fill fill;
    fill.seconds = clock.nsecsElapsed() / 1e9;
    fill.bytes = QFileInfo(target).size();
    clock.restart();
    QFile::remove(target);
    fill.deleteSeconds = clock.nsecsElapsed() / 1e9;
    return fill;
}

class SilentView : public ov::FreeSpaceView
{
public:
    explicit SilentView(QByteArray designator) : m_designator(std::move(designator)) {}
    QByteArray driveDesignator() const override { return m_designator; }
    void setStatusText(const QString&) override {}
    void setCleanedText(const QString&) override {}
    void setLeftText(const QString&) override {}
    void setStopInFront(bool) override {}
    void setStartEnabled(bool) override {}
    void setDriveListEnabled(bool) override {}
    void showErrorReport(int, const QString& text) override
    {
        std::fprintf(stderr, "report: %s\n", qPrintable(text));
    }
    void showUnreached(const QStringList&) override {}

private:
    QByteArray m_designator;
};

Fill fillWithRun(const Volume& volume, qint64* longestGapMs)
{
    ov::QtEngineHost loop;
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
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (sinceTick.isValid())
            longest = std::max(longest, sinceTick.elapsed());
        sinceTick.start();
    });

    QElapsedTimer clock;
    QTimer::singleShot(0, [&] {
        ticker.start();
        sinceTick.start();
        clock.start();
        fillRun.run();
        // The gap up to the end counts as well.
        longest = std::max(longest, sinceTick.elapsed());
        ticker.stop();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    Fill fill;
    fill.seconds = clock.nsecsElapsed() / 1e9;
    fill.bytes = fillRun.cleanedBytes();
    *longestGapMs = longest;
    return fill;
}

struct Setup
{
    const char* type;
    qint64 size;
    bool fresh; // a new volume for every fill
};

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

    const Setup setups[] = {{"ext4", qint64(512) << 20, true},
                            {"xfs", qint64(512) << 20, true},
                            {"ext4", qint64(1) << 30, false}};
    qint64 worstGap = 0;
    for (const Setup& setup : setups) {
        std::printf("\n%s, %lld MiB%s, %d rounds (order alternating)\n", setup.type,
                    setup.size >> 20, setup.fresh ? ", a fresh volume for every fill" : "", rounds);
        std::printf("%-6s %-30s %-30s %-13s %s\n", "round", "free-space run (to deletion)",
                    "dd bs=1M conv=fdatasync", "dd + rm", "run / dd, run / (dd + rm)");
        std::unique_ptr<Volume> runVolume;
        std::unique_ptr<Volume> ddVolume;
        auto volumeFor = [&](std::unique_ptr<Volume>& volume, const char* name) -> Volume* {
            if (setup.fresh || !volume) {
                volume.reset();
                volume = std::make_unique<Volume>(base, name, setup.type, setup.size);
                if (!volume->ok())
                    return nullptr;
                if (!setup.fresh)
                    fillWithDd(*volume); // the host allocates the image once, unmeasured
            }
            return volume.get();
        };
        std::vector<double> ratios, ratiosWithRm, runSpeeds, ddSpeeds;
        for (int round = 1; round <= rounds; ++round) {
            Fill ddFill;
            Fill runFill;
            qint64 gap = 0;
            for (int turn = 0; turn < 2; ++turn) {
                const bool runTurn = (turn == 0) == (round % 2 == 1);
                Volume* volume = runTurn ? volumeFor(runVolume, "run") : volumeFor(ddVolume, "dd");
                if (!volume) {
                    std::fprintf(stderr, "diskclean_bench: could not make a %s volume\n",
                                 setup.type);
                    return 1;
                }
                dropCaches();
                if (runTurn)
                    runFill = fillWithRun(*volume, &gap);
                else
                    ddFill = fillWithDd(*volume);
            }
            const double ddWithRm = ddFill.seconds + ddFill.deleteSeconds;
            const double ratio = runFill.mibPerSecond() / ddFill.mibPerSecond();
            const double ratioWithRm = runFill.mibPerSecond() / ddFill.rate(ddWithRm);
            std::printf("%-6d %6.1f MiB/s (%4lld MiB %5.3f s)  %6.1f MiB/s (%4lld MiB %5.3f s)"
                        "  %5.3f s       %.2f, %.2f   tick gap %lld ms, load %s\n",
                        round, runFill.mibPerSecond(), runFill.bytes >> 20, runFill.seconds,
                        ddFill.mibPerSecond(), ddFill.bytes >> 20, ddFill.seconds, ddWithRm, ratio,
                        ratioWithRm, static_cast<long long>(gap), loadAverage().constData());
            std::fflush(stdout);
            ratios.push_back(ratio);
            ratiosWithRm.push_back(ratioWithRm);
            runSpeeds.push_back(runFill.mibPerSecond());
            ddSpeeds.push_back(ddFill.mibPerSecond());
            worstGap = std::max(worstGap, gap);
        }
        std::printf("median: run %.1f MiB/s, dd %.1f MiB/s; run / dd %.2f, run / (dd + rm) %.2f"
                    " (goal >= 1.00)\n",
                    median(runSpeeds), median(ddSpeeds), median(ratios), median(ratiosWithRm));
    }
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("\npeak memory (ru_maxrss): %.1f MiB (goal < 64 MiB)\n", usage.ru_maxrss / 1024.0);
    std::printf("longest gap between two ticks of the 10 ms timer: %lld ms (goal <= 50 ms)\n",
                static_cast<long long>(worstGap));
    QDir(base).removeRecursively();
    return 0;
}
