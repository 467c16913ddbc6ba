// Every caption, title, menu item and tip as the user reads it, compared letter for letter
// (blanks and misspellings included) with what the program has always shown.
#include "ui/UiWorld.h"
#include "ui/dialogs/frmAbout.h"
#include "ui/dialogs/frmOptions.h"
#include "ui/dialogs/frmViewLog.h"
#include "ui/main/cTooltip.h"
#include "ui/main/frmMain.h"

using namespace ov;
using namespace ov::test;

namespace {

using Texts = QList<std::pair<const char*, QString>>;

// The text a control shows: a button's or label's caption, a frame's title, a menu's
// title, an action's text.
QString shown(QObject* control)
{
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* frame = qobject_cast<QGroupBox*>(control))
        return frame->title();
    if (auto* menu = qobject_cast<QMenu*>(control))
        return menu->title();
    if (auto* action = qobject_cast<QAction*>(control))
        return action->isSeparator() ? QStringLiteral("-") : action->text();
    if (auto* window = qobject_cast<QWidget*>(control); window && window->isWindow())
        return window->windowTitle();
    return QStringLiteral("(no text)");
}

// The controls whose texts differ, each with what it shows.
QStringList differing(QObject* window, const Texts& expected)
{
    QStringList wrong;
    for (const auto& [name, text] : expected) {
        QObject* control = qstrcmp(name, "window") == 0
                               ? window
                               : window->findChild<QObject*>(QLatin1String(name));
        if (!control)
            wrong << QStringLiteral("%1 is missing").arg(name);
        else if (shown(control) != text)
            wrong << QStringLiteral("%1 shows \"%2\"").arg(name, shown(control));
    }
    return wrong;
}

const char kAdvice[] = "Please make sure to turn off all recovery utilities, undelete, and go "
                       "back type of software before deleting files. This will make sure the "
                       "files you delete can not be recovered.";
const char kNote[] =
    "Note: Cleaning a drive will NOT delete any files. It will clean the free space on the "
    "drive where files might have been at one time or another. Please do not run any programs "
    "while this procedure is being performed. This will ensure it will finish with out any "
    "problems.";

} // namespace

class TextsTest : public QObject
{
    Q_OBJECT

private slots:
    void mainWindowCaptionsAndMenu()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        const Texts texts{
            {"window", "Ombrevault"},
            {"mnuFile", "&File"}, // shown "File", F the access key
            {"mnuViewLogs", " View Logs"},
            {"mnuExit", " E&xit"},
            {"mnuView", "&View"},
            {"mnuFileCleaner", " File Cleaner"},
            {"mnuDiskCleaner", " Disk Cleaner"},
            {"mnuBar", "-"},
            {"mnuOptions", " Options"},
            {"mnuHelp", "&Help"},
            {"mnuHelp1", " Help"},
            {"mnuAbout", " About"},
            {"frmDisk", "Disk Cleaner "},
            {"frmFile", "File Wiper"},
            {"cmdAddFile", "Add File"},
            {"cmdAddFolder", "Add Folder"},
            {"cmdRemoveFile", "Remove File"},
            {"cmdClearList", "Clear List"},
            {"cmdDelete", "Ombrevault"},
            {"Label1", "Total Files:"},
            {"Label4", "0"},
            {"Label2", "Files Deleted:"},
            {"Label5", "0"},
            {"Label3", "Files Left:"},
            {"Label6", "0"},
            {"lblStatusStatic", "Status: "},
            {"lblStatus", "Ready..."},
            {"Label7", kAdvice},
            {"Command1", "Clean Selected Drive"},
            {"cmdStop", "Stop"},
            {"Frame2", "Progress"},
            {"lblCleaned", "0 KB Cleaned"},
            {"lblLeft", "0 KB Left to clean"},
            {"Label9", "Status: "},
            {"lblStatus2", "Ready..."},
            {"lbl1", "Volume Serial Number:"},
            {"lbl2", "Total Space:"},
            {"lbl3", "Total Free Space:"},
            {"lbl4", "Available Free Space:"},
            {"lbl7", "Drive Type:"},
            {"lbl6", "File System Name:"},
            {"lbl8", "Volume Compressed:"},
            {"Label10", kNote},
        };
        QVERIFY2(differing(&main, texts).isEmpty(), qPrintable(differing(&main, texts).join('\n')));
        // The menus in their order, the delete button's caption bold.
        QStringList order;
        for (QAction* menu : main.menuBar()->actions()) {
            order << menu->text();
            for (QAction* item : menu->menu()->actions())
                order << shown(item);
        }
        QCOMPARE(order,
                 (QStringList{"&File", " View Logs", " E&xit", "&View", " File Cleaner",
                              " Disk Cleaner", "-", " Options", "&Help", " Help", " About"}));
        QVERIFY(main.findChild<QPushButton*>("cmdDelete")->font().bold());
    }

    void theSixTipsAsTheyShow()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.mnuFileCleaner_Click();
        int quick = 1;
        main.tooltip().setDelayTime(quick);
        const Texts tips{
            {"List1", "Files which are pending deletion."},
            {"cmdAddFolder", "Add all files in a folder to the list of files to be deleted."},
            {"cmdAddFile", "Add 1 file to to the list of files to be deleted."},
            {"cmdClearList", "Clear all items on the list."},
            {"cmdRemoveFile", "Remove one selected file from the list."},
            {"cmdDelete", "Delete all of the selected files."},
        };
        for (const auto& [name, tip] : tips) {
            auto* control = main.findChild<QWidget*>(QLatin1String(name));
            QTest::mouseMove(control, control->rect().center());
            QTRY_COMPARE(main.tooltip().shownText(), tip);
            // In the window's plain font, also over the bold delete button.
            QVERIFY(!main.tooltip().tipWindow()->font().bold());
        }
    }

    void secondaryWindowTexts()
    {
        World world;
        frmOptions options(world.context);
        const Texts optionTexts{
            {"window", "Options"},
            {"Command2", "General"},
            {"Command1", "Security"},
            {"Check2", "Name scramblinng - more time but more secure (File Cleaner)"},
            {"Check1", "Log all operations"},
            {"Option1_0", "Least security - Less security, but fast completion time. "},
            {"Option1_1", "Medium security - Strong enough to stop most of data recovery methods."},
            {"Option1_2", "High security - Strongest wiping power, but slow. Prevents all data "
                          "recovery. WARNING: Extremely slow."},
            {"Label1", "These options apply only to File Cleaner."},
            {"cmdCancel", "Cancel"},
            {"cmdOK", "Save "},
        };
        QVERIFY2(differing(&options, optionTexts).isEmpty(),
                 qPrintable(differing(&options, optionTexts).join('\n')));

        frmViewLog viewer(world.context);
        const Texts viewerTexts{
            {"window", "Log viewer"}, {"Command2", "Clear Log"}, {"cmdExit", "Close"}};
        QVERIFY2(differing(&viewer, viewerTexts).isEmpty(),
                 qPrintable(differing(&viewer, viewerTexts).join('\n')));
        QCOMPARE(viewer.findChild<QListWidget*>("List1")->item(0)->text(),
                 QStringLiteral("No log file exists"));

        frmAbout about(world.context);
        const Texts aboutTexts{{"window", "About Ombrevault "},
                               {"Command1", "Close"},
                               {"Label4", "4.2"},
                               {"Label1", "Build: 422"}};
        QVERIFY2(differing(&about, aboutTexts).isEmpty(),
                 qPrintable(differing(&about, aboutTexts).join('\n')));
    }
};

QTEST_MAIN(TextsTest)
#include "TextsTest.moc"
