// Starts the real program in its own Xvfb server with a file on its command line and
// logging on at the least level. From start-up, keys are pressed as a keyboard user
// would (Tab five times and Space, as once destroyed the file behind the Disk Cleaner):
// the file must survive them. Then it switches to the File Cleaner through the View menu
// and deletes with the keyboard alone (the focus is on the list, five Tabs reach the
// delete button), and checks that the file is gone and that the log says so. Every wait
// has a deadline; everything started is killed at the end.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

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

// A process that is killed when this goes away, on every path out.
struct Process : QProcess
{
    ~Process() override
    {
        terminate(); // lets Xvfb remove its socket and lock
        if (!waitForFinished(3000)) {
            kill();
            waitForFinished(3000);
        }
    }
};

QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

// Runs a short tool to its end within ten seconds; its standard output.
QString tool(const QString& program, const QStringList& args)
{
    Process process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(10000))
        fail(program + QStringLiteral(" did not finish: ") + args.join(QLatin1Char(' ')));
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QStringList xdo(const QStringList& args)
{
    return tool(QStringLiteral("xdotool"), args).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Polls until the condition holds; fails after the limit.
void waitFor(const std::function<bool()>& condition, int limitMs, const QString& what)
{
    const QDeadlineTimer deadline(limitMs);
    while (!condition()) {
        if (deadline.hasExpired())
            fail("timed out waiting for " + what);
        QThread::msleep(50);
    }
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        fail("cannot write " + path);
}

// Whether the File Cleaner's band shows: its left end is pure blue, a colour nothing on
// the Disk Cleaner has. The window is read as a binary PPM image.
bool bandShown(const QString& window)
{
    Process import;
    import.setProcessEnvironment(env);
    import.start(QStringLiteral("import"), {"-window", window, "-depth", "8", "ppm:-"});
    if (!import.waitForFinished(10000))
        fail("import did not finish");
    const QByteArray image = import.readAllStandardOutput();
    // "P6", width, height, maximum, each followed by one blank; then the pixels.
    qsizetype at = 0;
    QList<int> header;
    for (int field = 0; field < 4; ++field) {
        const qsizetype end = image.indexOf(field == 3 ? '\n' : ' ', at);
        const qsizetype line = image.indexOf('\n', at);
        const qsizetype stop = end < 0 || (line >= 0 && line < end) ? line : end;
        if (stop < 0)
            fail("unreadable picture of the window");
        header << (field == 0 ? 0 : image.mid(at, stop - at).trimmed().toInt());
        at = stop + 1;
    }
    int blue = 0;
    for (qsizetype i = at; i + 2 < image.size(); i += 3) {
        const auto r = uchar(image[i]), g = uchar(image[i + 1]), b = uchar(image[i + 2]);
        blue += r < 8 && g < 8 && b > 247;
    }
    return blue >= 10;
}

// A 1 MiB file system of its own as the program's current directory: a key that starts
// "Clean Selected Drive" fills that one and no real disk. Empty when it cannot be made.
struct SmallVolume
{
    QString path;
    explicit SmallVolume(const QString& where)
    {
        QDir().mkpath(where);
        Process mount;
        mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=1m", "ovtest", where});
        if (mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit &&
            mount.exitCode() == 0)
            path = where;
    }
    ~SmallVolume()
    {
        if (path.isEmpty())
            return;
        Process umount;
        umount.start(QStringLiteral("umount"), {path});
        umount.waitForFinished(10000);
    }
};

QByteArray lastLogLine(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().split('\n').last() : "";
}

int run(const QString& program)
{
    for (const char* needed : {"Xvfb", "xdotool", "import"}) {
        if (QStandardPaths::findExecutable(QLatin1String(needed)).isEmpty()) {
            // The test script installs them: there a missing tool is a failure, not a
            // reason to skip the one test that drives the real program.
            if (qEnvironmentVariableIsSet("OV_E2E_REQUIRED"))
                fail(QStringLiteral("%1 is not installed").arg(QLatin1String(needed)));
            say(QStringLiteral("SKIP: %1 is not installed").arg(QLatin1String(needed)));
            return 77;
        }
    }
    QTemporaryDir temp;
    const QString root = temp.path();
    for (const char* folder : {"bin", "etc/ombrevault", "home", "data", "share", "runtime"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(folder));
    QFile::setPermissions(root + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // A copy of the program, so that its log.txt lands in this folder.
    const QString binary = root + "/bin/ombrevault", log = root + "/bin/log.txt";
    if (!QFile::copy(program, binary))
        fail("cannot copy " + program);
    writeFile(root + "/etc/ombrevault/HKEY_LOCAL_MACHINE.ini",
              "[Software]\nTallowbrookworks\\Ombrevault4\\Log=1\n"
              "Tallowbrookworks\\Ombrevault4\\Strenth=1\n");
    const QString victim = root + "/data/victim file.bin";
    writeFile(victim, QByteArray(256 * 1024, 'v'));

    // The server, on a display number it picks itself.
    Process xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    while (!xvfb.canReadLine()) {
        if (!xvfb.waitForReadyRead(10000))
            fail("Xvfb did not start");
    }
    env.insert("DISPLAY", ':' + QString::fromLatin1(xvfb.readLine()).trimmed());
    env.remove("QT_QPA_PLATFORM");
    for (const char* name :
         {"CONFIG_HOME=/home", "CONFIG_DIRS=/etc", "DATA_HOME=/share", "RUNTIME_DIR=/runtime"})
        env.insert("XDG_" + QString(name).section('=', 0, 0), root + QString(name).section('=', 1));

    SmallVolume volume(root + "/volume");
    Process app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.setWorkingDirectory(volume.path.isEmpty() ? root : volume.path);
    app.start(binary, {victim});
    if (!app.waitForStarted(10000))
        fail("the program did not start");
    QString window;
    waitFor(
        [&] {
            window = xdo({"search", "--onlyvisible", "--name", "^Ombrevault$"}).value(0);
            return !window.isEmpty() || app.state() == QProcess::NotRunning;
        },
        20000, "the main window");
    if (window.isEmpty())
        fail("the program ended without a window");

    if (bandShown(window))
        fail("the File Cleaner was in front at start-up");

    // The keyboard from start-up. Space is pressed only where a cleaning it may start
    // has a small volume of its own to fill; Escape closes the drive list should Space
    // have opened it.
    xdo({"mousemove", "--window", window, "200", "200"});
    xdo({"windowfocus", "--sync", window});
    const QString press =
        volume.path.isEmpty() ? QStringLiteral("Return") : QStringLiteral("space");
    if (volume.path.isEmpty())
        say(QStringLiteral("no tmpfs could be mounted: Return instead of Space from start-up"));
    for (int round = 0; round < 6; ++round) {
        QStringList keys{"key", "--delay", "40"};
        for (int tab = 0; tab < (round == 0 ? 5 : 1); ++tab)
            keys << "Tab";
        keys << press << "Return";
        xdo(keys);
        QThread::msleep(300);
        xdo({"key", "Escape"});
    }
    QThread::msleep(500);
    if (!QFile::exists(victim))
        fail("keys pressed on the Disk Cleaner destroyed the file behind it");
    if (lastLogLine(log).contains(QFile::encodeName(victim)))
        fail("keys pressed on the Disk Cleaner started a deletion run");
    if (bandShown(window) || app.state() != QProcess::Running)
        fail("the keys changed the panel or ended the program");
    const auto fileCleanerShown = [&] { return bandShown(window); };

    // View -> File Cleaner: open "File" with the mouse, step right to "View", take its
    // first item.
    const auto popups = [] { return xdo({"search", "--onlyvisible", "--class", "ombrevault"}); };
    for (int attempt = 0; !fileCleanerShown(); ++attempt) {
        if (attempt == 3)
            fail("the View menu did not switch to the File Cleaner");
        xdo({"mousemove", "--window", window, "12", "8"});
        xdo({"click", "1"});
        QStringList open;
        waitFor([&] { return (open = popups()).size() >= 2; }, 5000,
                QStringLiteral("the File menu"));
        xdo({"key", "Right"});
        waitFor(
            [&] {
                const QStringList now = popups();
                return now.size() >= 2 && now != open;
            },
            5000, "the View menu");
        xdo({"key", "Return"});
        try {
            waitFor(fileCleanerShown, 5000, "the File Cleaner panel");
        } catch (const Failure& failure) {
            say(failure.what + QStringLiteral(", trying again"));
            xdo({"key", "Escape"});
        }
    }

    // The list in front has the focus; five Tabs reach the delete button.
    xdo({"windowfocus", "--sync", window});
    xdo({"key", "--delay", "40", "Tab", "Tab", "Tab", "Tab", "Tab", "space"});
    waitFor([&] { return !QFile::exists(victim); }, 30000, "the file to go");
    const QByteArray line = lastLogLine(log);
    const QByteArray expected = QFile::encodeName(victim) + " Deleted via ratio 1";
    if (!line.startsWith('[') || !line.endsWith(expected))
        fail(QStringLiteral("log line \"%1\" does not end with \"%2\"")
                 .arg(QString::fromUtf8(line), QString::fromUtf8(expected)));
    if (app.state() != QProcess::Running)
        fail("the program ended during the run");
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
