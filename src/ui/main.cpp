#include "platform/BlockingRunner.h"
#include "platform/Files.h"
#include "platform/LinuxVolumes.h"
#include "platform/Paths.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/TerminationNotifier.h"
#include "platform/qt/XdgOpener.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "ui/AppContext.h"
#include "ui/ProgramTitle.h"
#include "ui/main/CommandLine.h"
#include "ui/main/frmMain.h"

#include <QApplication>
#include <QIcon>

// The one place that chooses what the windows work with.
int main(int argc, char** argv)
{
    ov::fs::ignoreFileSizeLimitSignal();
    ov::fs::raiseDescriptorLimit();
    // The argument text as given, before QApplication takes out the options it knows.
    const ov::CommandLine commandLine = ov::commandLineText(argc, argv);

    QApplication app(argc, argv);
    ov::TerminationNotifier termination; // closes the windows; the runs stop first
    QApplication::setApplicationName(ov::programTitle());
    QApplication::setApplicationVersion(QStringLiteral(OV_VERSION_STRING));

    ov::Settings settings;
    ov::SettingsStore store;
    ov::OperationLog log(ov::OperationLog::resolvedPath());
    ov::WorkerThreadRunner runner;
    ov::QtDialogs dialogs;
    ov::LinuxVolumes volumes(runner);
    ov::XdgOpener opener;
    ov::AppContext context{settings, store,   log,    runner,
                           dialogs,  volumes, opener, ov::currentDirectory()};

    ov::frmMain window(context, commandLine);
    QApplication::setWindowIcon(window.windowIcon());
    termination.endIfReceived(); // before the window shows: nothing runs yet
    window.show();
    const int status = app.exec();
    termination.endIfReceived();
    return status;
}
