#include "DialogFakes.h"
#include "DialogTests.h"

#include "ui/dialogs/OpenLink.h"
#include "ui/dialogs/frmAbout.h"
#include "ui/dialogs/frmOptions.h"
#include "ui/dialogs/frmViewLog.h"
#include "ui/main/CommandLine.h"
#include "ui/main/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTest>

namespace ov::test {

namespace {

template <typename Window> QList<Window*> openWindows()
{
    QList<Window*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<Window*>(widget); window && window->isVisible())
            found << window;
    }
    return found;
}

void choose(frmMain& main, const char* action)
{
    QAction* item = main.findChild<QAction*>(QLatin1String(action));
    if (!item)
        qFatal("no menu item %s", action);
    item->trigger();
}

template <typename Window> void closeAll()
{
    for (Window* window : openWindows<Window>())
        window->close();
    QTRY_VERIFY(openWindows<Window>().isEmpty());
}

} // namespace

// The main window's menu commands reach the windows of this folder.
class MenuTest : public QObject
{
    Q_OBJECT
private slots:
    void eachSecondaryWindowOnce()
    {
        DialogWorld world;
        frmMain main(world.context, CommandLine{});
        main.show();
        choose(main, "mnuOptions");
        choose(main, "mnuOptions");
        choose(main, "mnuViewLogs");
        choose(main, "mnuViewLogs");
        choose(main, "mnuAbout");
        choose(main, "mnuAbout");
        QCOMPARE(openWindows<frmOptions>().size(), 1);
        QCOMPARE(openWindows<frmViewLog>().size(), 1);
        QCOMPARE(openWindows<frmAbout>().size(), 1);
        for (QWidget* window : {static_cast<QWidget*>(openWindows<frmOptions>()[0]),
                                static_cast<QWidget*>(openWindows<frmAbout>()[0])})
            QVERIFY(!window->parentWidget());

        // Closing the main window leaves them open.
        choose(main, "mnuExit");
        QVERIFY(!main.isVisible());
        QCOMPARE(openWindows<frmOptions>().size(), 1);
        closeAll<frmOptions>();
        closeAll<frmViewLog>();
        closeAll<frmAbout>();
    }

    void helpOpensThePageBesideTheProgram()
    {
        DialogWorld world;
        frmMain main(world.context, CommandLine{});
        choose(main, "mnuHelp1");
        QCOMPARE(world.opener.targets, QStringList{QFile::decodeName(helpPagePath())});
        QVERIFY(world.dialogs.messages.empty());
    }
};

std::unique_ptr<QObject> makeMenuTest()
{
    return std::make_unique<MenuTest>();
}

} // namespace ov::test

#include "MenuTest.moc"
