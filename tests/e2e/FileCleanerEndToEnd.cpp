// Starts the real program in its own Xvfb server with a file on its command line and
// logging on at the least level, switches to the File Cleaner through the View menu and
// presses the delete button with xdotool, then checks that the file is gone and that
// the log says so. Every wait has a deadline; everything started is killed at the end.

#include "ui/main/MainLayout.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int kSkip = 77;

struct Failure
{
    QString what;
};

[[noreturn]] void fail(const QString& what)
{
    throw Failure{what};
}

void say(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// Runs a short tool to its end within a limit; its standard output.
QString tool(const QString& program, const QStringList& args, const QProcessEnvironment& env,
             int limitMs = 10000, int* exitCode = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished(2000);
        fail(program + QStringLiteral(" did not finish: ") + args.join(QLatin1Char(' ')));
    }
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// Polls until the condition holds; fails with the text after the limit.
void waitFor(const std::function<bool()>& condition, int limitMs, const QString& what)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limitMs)
            fail(QStringLiteral("timed out waiting for ") + what);
        QThread::msleep(50);
    }
}

// A process that is killed when this goes away.
struct Owned
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    ~Owned()
    {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(3000)) {
                process->kill();
                process->waitForFinished(3000);
            }
        }
    }
};

struct Rgb
{
    int red = 0, green = 0, blue = 0;
};

Rgb screenPixel(const QProcessEnvironment& env, int x, int y)
{
    const QString out = tool(QStringLiteral("import"),
                             {"-window", "root", "-crop", QStringLiteral("1x1+%1+%2").arg(x).arg(y),
                              "-depth", "8", "txt:-"},
                             env);
    static const QRegularExpression hex(QStringLiteral("#([0-9A-Fa-f]{6})"));
    const QRegularExpressionMatch match = hex.match(out);
    if (!match.hasMatch())
        return {};
    const unsigned value = match.captured(1).toUInt(nullptr, 16);
    return {int(value >> 16) & 0xff, int(value >> 8) & 0xff, int(value) & 0xff};
}

QByteArray lastLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QByteArray line = it->trimmed();
        if (!line.isEmpty())
            return line;
    }
    return {};
}

int run(const QString& program)
{
    for (const char* needed : {"Xvfb", "xdotool", "import"}) {
        if (QStandardPaths::findExecutable(QLatin1String(needed)).isEmpty()) {
            say(QStringLiteral("SKIP: %1 is not installed").arg(QLatin1String(needed)));
            return kSkip;
        }
    }

    QTemporaryDir temp;
    if (!temp.isValid())
        fail(QStringLiteral("no temporary folder"));
    const QString root = temp.path();
    for (const char* folder : {"bin", "etc/ombrevault", "home", "data", "share", "runtime"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(folder));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // A copy of the program, so that its log.txt lands in this folder.
    const QString binary = root + QStringLiteral("/bin/ombrevault");
    if (!QFile::copy(program, binary))
        fail(QStringLiteral("cannot copy ") + program);
    QFile::setPermissions(binary, QFile::permissions(binary) | QFileDevice::ExeOwner);

    QFile ini(root + QStringLiteral("/etc/ombrevault/HKEY_LOCAL_MACHINE.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        fail(QStringLiteral("cannot write the settings"));
    ini.write("[Software]\nTallowbrookworks\\Ombrevault4\\Log=1\n"
              "Tallowbrookworks\\Ombrevault4\\Strenth=1\n");
    ini.close();

    const QString victim = root + QStringLiteral("/data/victim file.bin");
    {
        QFile file(victim);
        if (!file.open(QIODevice::WriteOnly))
            fail(QStringLiteral("cannot create the victim"));
        file.write(QByteArray(256 * 1024, 'v'));
    }

    // The server, on a display number it picks itself.
    Owned xvfb;
    xvfb.process->start(QStringLiteral("Xvfb"),
                        {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QString display;
    waitFor(
        [&] {
            xvfb.process->waitForReadyRead(100);
            const QString out = QString::fromLatin1(xvfb.process->readAllStandardOutput());
            display += out;
            return display.contains(QLatin1Char('\n')) ||
                   xvfb.process->state() == QProcess::NotRunning;
        },
        10000, QStringLiteral("Xvfb"));
    display = display.trimmed();
    if (display.isEmpty())
        fail(QStringLiteral("Xvfb did not start"));
    say(QStringLiteral("display :") + display);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + display);
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), root + QStringLiteral("/etc"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/share"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));

    Owned app;
    app.process->setProcessEnvironment(env);
    app.process->setProcessChannelMode(QProcess::ForwardedChannels);
    app.process->start(binary, {victim});
    if (!app.process->waitForStarted(10000))
        fail(QStringLiteral("the program did not start"));

    QString window;
    waitFor(
        [&] {
            window = tool(QStringLiteral("xdotool"),
                          {"search", "--onlyvisible", "--name", "^Ombrevault$"}, env)
                         .section(QLatin1Char('\n'), 0, 0)
                         .trimmed();
            return !window.isEmpty() || app.process->state() == QProcess::NotRunning;
        },
        20000, QStringLiteral("the main window"));
    if (window.isEmpty())
        fail(QStringLiteral("the program ended without a window"));

    const QString geometry =
        tool(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}, env);
    auto field = [&](const char* name) {
        const QRegularExpression re(QLatin1String(name) + QStringLiteral("=(-?\\d+)"));
        return re.match(geometry).captured(1).toInt();
    };
    const int left = field("X"), top = field("Y"), height = field("HEIGHT");
    const int menuBar = height - ov::layout::kCentralHeight;
    if (menuBar <= 0)
        fail(QStringLiteral("unexpected window geometry: ") + geometry);

    // The band's left end: blue on the File Cleaner, panel grey while the Disk Cleaner
    // covers it.
    const QPoint band(ov::layout::kPanel.x() + ov::layout::kPicGrad.x() + 3,
                      menuBar + ov::layout::kPanel.y() + ov::layout::kPicGrad.center().y());
    auto fileCleanerShown = [&] {
        const Rgb pixel = screenPixel(env, left + band.x(), top + band.y());
        return pixel.blue > 200 && pixel.red < 80;
    };
    if (fileCleanerShown())
        fail(QStringLiteral("the File Cleaner was in front at start-up"));

    auto xdo = [&](const QStringList& args) { tool(QStringLiteral("xdotool"), args, env); };
    auto popups = [&] {
        return tool(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--class", "ombrevault"},
                    env)
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };

    // View -> File Cleaner: open "File" with the mouse, step right to "View", take its
    // first item.
    for (int attempt = 0; !fileCleanerShown(); ++attempt) {
        if (attempt == 3)
            fail(QStringLiteral("the View menu did not switch to the File Cleaner"));
        xdo({"mousemove", "--window", window, "12", QString::number(menuBar / 2)});
        xdo({"click", "1"});
        QStringList open;
        waitFor(
            [&] {
                open = popups();
                return open.size() >= 2;
            },
            5000, QStringLiteral("the File menu"));
        xdo({"key", "Right"});
        waitFor(
            [&] {
                const QStringList now = popups();
                return now.size() >= 2 && now != open;
            },
            5000, QStringLiteral("the View menu"));
        xdo({"key", "Return"});
        try {
            waitFor(fileCleanerShown, 5000, QStringLiteral("the File Cleaner panel"));
        } catch (const Failure& failure) {
            say(failure.what + QStringLiteral(", trying again"));
            xdo({"key", "Escape"});
        }
    }

    const QByteArray logBefore = lastLine(root + QStringLiteral("/bin/log.txt"));
    if (!logBefore.isEmpty())
        fail(QStringLiteral("a log line before the run"));
    xdo({"mousemove", "--window", window,
         QString::number(ov::layout::kPanel.x() + ov::layout::kDelete.center().x()),
         QString::number(menuBar + ov::layout::kPanel.y() + ov::layout::kDelete.center().y())});
    xdo({"click", "1"});

    waitFor([&] { return !QFile::exists(victim); }, 30000, QStringLiteral("the file to go"));
    const QByteArray line = lastLine(root + QStringLiteral("/bin/log.txt"));
    const QByteArray expected = QFile::encodeName(victim) + " Deleted via ratio 1";
    if (!line.endsWith(expected) || !line.startsWith('['))
        fail(QStringLiteral("log line \"%1\" does not end with \"%2\"")
                 .arg(QString::fromUtf8(line), QString::fromUtf8(expected)));
    if (app.process->state() != QProcess::Running)
        fail(QStringLiteral("the program ended during the run"));
    say(QStringLiteral("PASS: ") + QString::fromUtf8(line));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH-OF-OMBREVAULT\n", argv[0]);
        return 2;
    }
    try {
        return run(QString::fromLocal8Bit(argv[1]));
    } catch (const Failure& failure) {
        say(QStringLiteral("FAIL: ") + failure.what);
        return 1;
    }
}
