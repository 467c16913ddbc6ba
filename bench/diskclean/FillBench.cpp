// Fills a 1 GiB loop-mounted ext4 volume with the free-space run and, side by side, an
// identical volume with dd (bs=1M, conv=fdatasync) until it is full, each timed up to
// its file's deletion (the run deletes its file itself); prints both
// throughputs, their ratio, the peak memory and the longest gap between two ticks of a
// 10 ms timer in the event loop during the run's fill. Needs root.
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
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 kImageSize = qint64(1) << 30;

bool run(const QString& program, const QStringList& args, QString* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted() || !process.waitForFinished(-1))
        return false;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// One fresh ext4 volume in a sparse image, mounted on a folder of its own.
class Volume
{
public:
    explicit Volume(const QString& base, const QString& name)
        : m_image(base + "/" + name + ".img"), m_point(base + "/" + name)
    {
        QDir().mkpath(m_point);
        QFile image(m_image);
        m_ok = image.open(QIODevice::WriteOnly) && image.resize(kImageSize);
        image.close();
        m_ok = m_ok &&
               run("mkfs.ext4",
                   {"-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0", m_image}) &&
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

struct Fill
{
    double seconds = 0;
    qint64 bytes = 0;
    double mibPerSecond() const { return seconds > 0 ? bytes / seconds / (1 << 20) : 0; }
};

Fill fillWithDd(const Volume& volume)
{
    const QString target = volume.point() + "/dd.fill";
    QElapsedTimer clock;
    clock.start();
    // dd ends with "No space left on device"; the flush of what it wrote is part of it.
    run("dd", {"if=/dev/zero", "of=" + target, "bs=1M", "conv=fdatasync"});
    Fill fill;
    fill.bytes = QFileInfo(target).size();
    // The run deletes its file before it ends: the same work on both sides.
    QFile::remove(target);
    fill.seconds = clock.nsecsElapsed() / 1e9;
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
    ov::FreeSpaceRun fillRun(info, view, loop, settings, nullptr);

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
        fillRun.Command1_Click();
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::fputs("diskclean_bench: loop mounts need root\n", stderr);
        return 1;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    QString base = QDir::tempPath() + "/ov-fill-bench-XXXXXX";
    QByteArray baseBytes = QFile::encodeName(base);
    if (!::mkdtemp(baseBytes.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    base = QFile::decodeName(baseBytes);

    std::printf("Filling a 1 GiB loop-mounted ext4 volume to the end, %d rounds\n", rounds);
    std::printf("%-6s %-28s %-28s %s\n", "round", "free-space run", "dd bs=1M conv=fdatasync",
                "ratio");
    std::vector<double> runSpeeds;
    std::vector<double> ddSpeeds;
    std::vector<double> ratios;
    qint64 worstGap = 0;
    // Both volumes are made once (no background initialisation: mkfs writes their tables)
    // and filled once with dd unmeasured, so that the host's file system has allocated
    // their images before anything is timed; the order alternates between rounds.
    Volume runVolume(base, "run");
    Volume ddVolume(base, "dd");
    if (!runVolume.ok() || !ddVolume.ok()) {
        std::fputs("diskclean_bench: could not make and mount the ext4 images\n", stderr);
        return 1;
    }
    fillWithDd(runVolume);
    fillWithDd(ddVolume);
    for (int round = 1; round <= rounds; ++round) {
        Fill ddFill;
        Fill runFill;
        qint64 gap = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool runTurn = (turn == 0) == (round % 2 == 1);
            dropCaches();
            if (runTurn)
                runFill = fillWithRun(runVolume, &gap);
            else
                ddFill = fillWithDd(ddVolume);
        }
        const double ratio =
            ddFill.mibPerSecond() > 0 ? runFill.mibPerSecond() / ddFill.mibPerSecond() : 0;
        std::printf("%-6d %7.1f MiB/s (%4lld MiB %5.2f s)  %7.1f MiB/s (%4lld MiB %5.2f s)  %.2f"
                    "   longest tick gap %lld ms\n",
                    round, runFill.mibPerSecond(), runFill.bytes >> 20, runFill.seconds,
                    ddFill.mibPerSecond(), ddFill.bytes >> 20, ddFill.seconds, ratio,
                    static_cast<long long>(gap));
        runSpeeds.push_back(runFill.mibPerSecond());
        ddSpeeds.push_back(ddFill.mibPerSecond());
        ratios.push_back(ratio);
        worstGap = std::max(worstGap, gap);
        std::fflush(stdout);
    }
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("median: run %.1f MiB/s, dd %.1f MiB/s, ratio of each round %.2f (goal >= "
                "0.90)\n",
                median(runSpeeds), median(ddSpeeds), median(ratios));
    std::printf("peak memory (ru_maxrss): %.1f MiB (goal < 64 MiB)\n", usage.ru_maxrss / 1024.0);
    std::printf("longest gap between two ticks of the 10 ms timer: %lld ms (goal <= 50 ms)\n",
                static_cast<long long>(worstGap));
    QDir(base).removeRecursively();
    return 0;
}
