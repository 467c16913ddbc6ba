// Figures for the main window:
//  - the pending list at its largest, scrolling sideways to its widest entry, against a
//    plain list box;
//  - start-up to the first shown window: the real program launched under its own Xvfb
//    server, timed from the launch to the X server's MapNotify of its window (median of
//    several launches; goal under 300 ms);
//  - how smoothly the band moves: the longest gap between two ticks of Timer2 while the
//    real window destroys a 256 MiB file at the high level (goal <= 50 ms).
// Usage: ui_bench [FOLDER-FOR-THE-256-MIB-FILE]

#include "platform/BlockingRunner.h"
#include "platform/LinuxVolumes.h"
#include "platform/qt/XdgOpener.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "ui/AppContext.h"
#include "ui/WideList.h"
#include "ui/main/frmMain.h"

#include "platform/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

// Whether a window is the program's main window (its title is the program's name).
bool isMainWindow(Display* display, Window window)
{
    char* title = nullptr;
    if (!XFetchName(display, window, &title) || !title)
        return false;
    const bool main = qstrcmp(title, "Ombrevault") == 0;
    XFree(title);
    return main;
}

// Waits for the MapNotify of the main window below the root window; false after limitMs.
bool waitForMap(Display* display, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ConnectionNumber(display);
    while (clock.elapsed() < limitMs) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && isMainWindow(display, event.xmap.window))
                return true;
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 20);
    }
    return false;
}

void startUp()
{
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QByteArray number;
    QElapsedTimer clock;
    clock.start();
    while (!number.contains('\n') && clock.elapsed() < 10000 &&
           xvfb.state() != QProcess::NotRunning) {
        xvfb.waitForReadyRead(100);
        number += xvfb.readAllStandardOutput();
    }
    number = number.trimmed();
    if (number.isEmpty()) {
        std::printf("start-up: Xvfb did not start, no figure\n");
        return;
    }
    const QByteArray name = ":" + number;
    Display* display = XOpenDisplay(name.constData());
    if (!display) {
        std::printf("start-up: cannot open display %s\n", name.constData());
        return;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(name));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), config.path());

    constexpr int kRuns = 9;
    std::vector<double> times;
    for (int run = 0; run < kRuns + 1; ++run) {
        QProcess program;
        program.setProcessEnvironment(env);
        QElapsedTimer launch;
        launch.start();
        program.start(QStringLiteral(OV_GUI_PATH), QStringList{});
        const bool mapped = waitForMap(display, 10000);
        const double ms = double(launch.nsecsElapsed()) / 1e6;
        program.kill();
        program.waitForFinished(5000);
        XSync(display, True); // drop the unmap and destroy events
        if (!mapped) {
            std::printf("start-up: no window within 10 s\n");
            break;
        }
        if (run > 0) // the first launch warms the caches
            times.push_back(ms);
    }
    XCloseDisplay(display);
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    if (times.empty())
        return;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("start-up to the first shown window (Xvfb, %zu launches): median %.1f ms, "
                "min %.1f ms, max %.1f ms (goal < 300 ms)\n",
                sorted.size(), sorted[sorted.size() / 2], sorted.front(), sorted.back());
}

// The window's dialogs are never shown here; a failure is printed instead.
class PrintingDialogs : public ov::Dialogs
{
public:
    void messageBox(QWidget*, Icon, const QString& title, const QString& text) override
    {
        std::printf("message box \"%s\": %s\n", qPrintable(title), qPrintable(text));
    }
    std::optional<QByteArray> openFile(QWidget*, const QString&, const QByteArray&,
                                       const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QByteArray> chooseFolder(QWidget*, const QString&) override
    {
        return std::nullopt;
    }
};

QByteArray makeFile(const QByteArray& path, qint64 size)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return {};
    std::vector<char> buffer(1 << 20);
    quint32 x = 12345;
    for (char& c : buffer)
        c = char((x = x * 1103515245u + 12345u) >> 24);
    for (qint64 done = 0; done < size; done += qint64(buffer.size()))
        if (::write(fd, buffer.data(), size_t(std::min<qint64>(size - done, buffer.size()))) < 0)
            break;
    ::fsync(fd);
    ::close(fd);
    return path;
}

// The longest pause of the moving band while the window wipes `size` bytes in `count`
// files at `level`; the time it took.
double bandDuringAWipe(const QByteArray& folder, const char* level, int count, qint64 size)
{
    QTemporaryDir temp(QFile::decodeName(folder) + QStringLiteral("/ov-uibench-XXXXXX"));
    const QByteArray base = QFile::encodeName(temp.path());
    ov::Settings settings;
    ov::SettingsStore store({base + "/etc", base + "/home"});
    ov::OperationLog log(base + "/log.txt");
    PrintingDialogs dialogs;
    ov::WorkerThreadRunner runner;
    ov::LinuxVolumes volumes(runner);
    ov::XdgOpener opener;
    ov::AppContext context{settings, store, log, runner, dialogs, volumes, opener, base};

    std::vector<QByteArray> victims;
    for (int i = 0; i < count; ++i)
        victims.push_back(makeFile(base + "/victim-" + QByteArray::number(i), size));
    const QByteArray victim = victims.front();
    ov::frmMain window(context, ov::CommandLine{victims});
    settings.SecurityLevel = QString::fromLatin1(level);
    window.show();
    window.mnuFileCleaner_Click();

    auto* timer = window.findChild<QTimer*>(QStringLiteral("Timer2"));
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    int ticks = 0;
    // Where in the run the long gaps fall: while the file is being written, or after
    // it is gone (its deletion).
    QList<QPair<qint64, bool>> longGaps;
    QObject::connect(timer, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.elapsed();
        if (ticks++ > 0) {
            longest = std::max(longest, gap);
            if (gap > 30)
                longGaps.append({gap, QFile::exists(QFile::decodeName(victim))});
        }
        sinceTick.restart();
    });
    QElapsedTimer run;
    run.start();
    sinceTick.start();
    window.findChild<QPushButton*>(QStringLiteral("cmdDelete"))->click();
    const double took = double(run.nsecsElapsed()) / 1e9;
    std::printf("Timer2 while the window wipes %d file(s) of %lld KiB at level %s: %.2f s, "
                "%d ticks, longest gap %lld ms (goal <= 50 ms)%s\n",
                count, size >> 10, level, took, ticks, longest,
                QFile::exists(QFile::decodeName(victim)) ? ", FILE LEFT" : "");
    for (const auto& [gap, fileThere] : longGaps)
        std::printf("  gap of %lld ms %s\n", gap,
                    fileThere ? "while the file was there" : "after the file was gone");
    return took;
}

// 1,000 files of 4 KiB from the window at the least level, beside `shred -u -n 3` on the
// same number of files of the same size in the same folder.
void smallFilesFromTheWindow(const QByteArray& folder)
{
    constexpr int kCount = 1000;
    const double window = bandDuringAWipe(folder, "1", kCount, 4096);
    QTemporaryDir temp(QFile::decodeName(folder) + QStringLiteral("/ov-uibench-XXXXXX"));
    QStringList args{QStringLiteral("-u"), QStringLiteral("-n"), QStringLiteral("3")};
    for (int i = 0; i < kCount; ++i)
        args << QFile::decodeName(
            makeFile(QFile::encodeName(temp.path()) + "/s-" + QByteArray::number(i), 4096));
    QElapsedTimer clock;
    clock.start();
    QProcess shred;
    shred.start(QStringLiteral("shred"), args);
    shred.waitForFinished(-1);
    const double shredTook = double(clock.nsecsElapsed()) / 1e9;
    std::printf("%d files of 4 KiB at the least level: the window %.2f s, shred -u -n 3 %.2f s: "
                "%.2f x shred (goal <= 0.2)\n",
                kCount, window, shredTook, window / shredTook);
}

// The pending list at its largest: 32,767 entries appended one by one and laid out, and
// then the widest of them removed, against a plain list whose rows take the first entry's
// size (which cuts the wider ones short).
void fullList()
{
    QStringList paths;
    for (int i = 0; i < 32767; ++i)
        paths << QStringLiteral("/srv/archive/%1/report-%2.pdf")
                     .arg(QString(i % 97, QLatin1Char('d')))
                     .arg(i);
    const auto timed = [&](QListWidget& list) {
        list.resize(404, 136);
        list.show();
        QElapsedTimer clock;
        clock.start();
        for (const QString& path : paths)
            list.addItem(path);
        list.doItemsLayout();
        const double added = double(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        delete list.takeItem(96); // the widest
        list.doItemsLayout();
        return std::pair(added, double(clock.nsecsElapsed()) / 1e6);
    };
    ov::WideList wide;
    QListWidget plain;
    plain.setUniformItemSizes(true);
    const auto [wideAdd, wideRemove] = timed(wide);
    const auto [plainAdd, plainRemove] = timed(plain);
    std::printf("32,767 entries appended and laid out: %.1f ms scrolling to the widest, "
                "%.1f ms with rows of the first entry's width; the widest removed: %.1f ms "
                "against %.1f ms\n",
                wideAdd, plainAdd, wideRemove, plainRemove);
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QByteArray folder = argc > 1 ? QByteArray(argv[1]) : QDir::tempPath().toLocal8Bit();
    // A second argument runs one part alone: "levels" or "small"; a third sets the size of
    // the file of each level in MiB (a slow disk needs a smaller one).
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    const qint64 levelBytes = (argc > 3 ? QByteArray(argv[3]).toLongLong() : 256) << 20;
    if (only.isEmpty()) {
        startUp();
        fullList();
    }
    if (only.isEmpty() || only == "levels") {
        for (const char* level : {"1", "2", "3"})
            bandDuringAWipe(folder, level, 1, levelBytes);
    }
    if (only.isEmpty() || only == "small")
        smallFilesFromTheWindow(folder);
    return 0;
}
