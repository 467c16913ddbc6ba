// SIGINT (also twice), SIGTERM and SIGHUP in the window while the Disk Cleaner fills a
// volume: the run stops after the write in hand, its filler goes, the window closes and
// the program ends by that signal. The window is a child process (this program again,
// wired as the program's main() wires it); the test looks at how it ended.
#include "drive/FakeVolumes.h"
#include "platform/qt/TerminationNotifier.h"
#include "ui/UiWorld.h"
#include "ui/main/CommandLine.h"
#include "ui/main/frmMain.h"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace ov;
using namespace ov::test;

namespace {

const char kChild[] = "--window-that-gets";

// The window on a made-up volume in `folder`: starts the Disk Cleaner and, once its file
// holds 2 MiB, sends itself the signal (twice when asked). Returns only when the program
// did not end by the signal.
int windowGettingSignal(int signal, bool twice, const QByteArray& folder)
{
    int argc = 1;
    char name[] = "ombrevault";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TerminationNotifier termination;
    World world;
    FakeVolumes volumes;
    WorkerThreadRunner runner;
    AppContext context{world.settings, world.store, world.log,    runner,
                       world.dialogs,  volumes,     world.opener, folder};
    const QString filler = QFile::decodeName(folder + "/ovtempx.dat");
    bool sent = false;
    volumes.add(folder + "/", 1LL << 40, 0).freeBytes = [&] {
        if (!sent && QFileInfo(filler).size() >= (2 << 20)) {
            sent = true;
            writeFile(folder + "/signalled", "");
            ::kill(::getpid(), signal);
            if (twice)
                ::kill(::getpid(), signal);
        }
        return std::uint64_t(1) << 36;
    };
    // The panel starts on the volume of the current folder.
    if (::chdir(folder.constData()) != 0)
        return 2;
    const char* const none[] = {"ombrevault"};
    frmMain window(context, commandLineText(1, none));
    window.show();
    QTimer::singleShot(0, window.findChild<QPushButton*>(QStringLiteral("Command1")),
                       &QPushButton::click);
    app.exec();
    termination.endIfReceived();
    return 3;
}

} // namespace

class TerminationTest : public QObject
{
    Q_OBJECT

private slots:
    void eachSignalStopsTheRunRemovesTheFillerClosesTheWindowAndEndsTheProgram_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("twice");
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        QTest::newRow("SIGINT twice") << int(SIGINT) << true;
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    }
    void eachSignalStopsTheRunRemovesTheFillerClosesTheWindowAndEndsTheProgram()
    {
        QFETCH(int, signal);
        QFETCH(bool, twice);
        TempDir dir;
        const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
        const QByteArray number = QByteArray::number(signal);
        const QByteArray times = twice ? "2" : "1";
        const QByteArray folder = dir.path();
        char* args[] = {const_cast<char*>(self.constData()),   const_cast<char*>(kChild),
                        const_cast<char*>(number.constData()), const_cast<char*>(times.constData()),
                        const_cast<char*>(folder.constData()), nullptr};
        pid_t pid = -1;
        QCOMPARE(::posix_spawn(&pid, self.constData(), nullptr, nullptr, args, environ), 0);
        int status = 0;
        QDeadlineTimer deadline(60000);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (deadline.hasExpired()) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                QFAIL("the window did not end");
            }
            QThread::msleep(5);
        }
        QVERIFY2(WIFSIGNALED(status), qPrintable(QStringLiteral("status %1").arg(status)));
        QCOMPARE(WTERMSIG(status), signal);
        QVERIFY2(exists(dir.file("signalled")), "the run was under way");
        QVERIFY(!exists(dir.file("ovtempx.dat")));
    }
};

int main(int argc, char** argv)
{
    if (argc == 5 && !std::strcmp(argv[1], kChild))
        return windowGettingSignal(std::atoi(argv[2]), !std::strcmp(argv[3], "2"), argv[4]);
    QCoreApplication app(argc, argv);
    TerminationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TerminationTest.moc"
