// The keyboard as a user has it: key events through the window system to whatever holds
// the focus, from start-up on. Only what is in front may take the focus or a key.
#include "ui/UiWorld.h"
#include "ui/dialogs/frmAbout.h"
#include "ui/dialogs/frmOptions.h"
#include "ui/dialogs/frmViewLog.h"
#include "ui/disk/DiskPanel.h"
#include "ui/file/PendingList.h"
#include "ui/main/frmMain.h"

using namespace ov;
using namespace ov::test;

namespace {

// A key pressed and released on the keyboard: the window system hands it to the focus.
void press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(window->window()->windowHandle(), key, modifiers);
}

template <typename T = QWidget> T* child(QWidget* window, const char* name)
{
    auto* found = window->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

bool showActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

QString focusName(QWidget* window)
{
    QWidget* focus = window->focusWidget();
    return focus ? focus->objectName() : QStringLiteral("(none)");
}

// The names the focus visits with `count` presses of Tab (or Shift+Tab), in order.
QStringList tabChain(QWidget* window, int count, bool backwards = false)
{
    QStringList visited;
    for (int i = 0; i < count; ++i) {
        press(window, backwards ? Qt::Key_Backtab : Qt::Key_Tab,
              backwards ? Qt::ShiftModifier : Qt::NoModifier);
        visited << focusName(window);
    }
    return visited;
}

// The distinct names in order of first appearance.
QStringList distinct(const QStringList& names)
{
    QStringList once;
    for (const QString& name : names) {
        if (!once.contains(name))
            once << name;
    }
    return once;
}

// A main window with a file of the temporary folder on its command line, at the least
// level (which refuses nothing that exists), shown and active.
struct Started : World
{
    QByteArray victim = dir.file("victim file.bin");
    std::unique_ptr<frmMain> window;

    Started()
    {
        writeFile(victim, QByteArray(4096, 'v'));
        store.WriteSetting(QStringLiteral("Strenth"), QStringLiteral("1"));
        const char* argv[] = {"ombrevault", victim.constData()};
        window = std::make_unique<frmMain>(context, commandLineText(2, argv));
    }
    QWidget* w() const { return window.get(); }
    bool untouched() const
    {
        return exists(victim) && window->pendingList()->entries() == std::vector{victim} &&
               child<QLabel>(w(), "lblStatus")->text() == QLatin1String("Ready...");
    }
};

const QStringList kFileCleanerChain{"List1",         "cmdAddFile",   "cmdAddFolder",
                                    "cmdRemoveFile", "cmdClearList", "cmdDelete"};

} // namespace

class KeyboardTest : public QObject
{
    Q_OBJECT

private slots:
    void startUpKeysReachOnlyTheDiskCleaner()
    {
        Started s;
        QVERIFY(showActive(s.w()));
        QCOMPARE(focusName(s.w()), QStringLiteral("Drive1")); // not the list behind
        // Forwards and backwards, the Tab chain stays on the panel in front and skips the
        // Stop button behind the start button.
        QCOMPARE(tabChain(s.w(), 3), (QStringList{"Command1", "Drive1", "Command1"}));
        QCOMPARE(tabChain(s.w(), 3, true), (QStringList{"Drive1", "Command1", "Drive1"}));
        press(s.w(), Qt::Key_Tab);

        // As reported: Tab five times, then Space and Enter. The start button in front
        // takes them (its volume has nothing to fill); the file behind is untouched.
        QCOMPARE(focusName(s.w()), QStringLiteral("Command1"));
        for (int i = 0; i < 5; ++i)
            press(s.w(), Qt::Key_Tab);
        press(s.w(), Qt::Key_Space);
        press(s.w(), Qt::Key_Return);
        QVERIFY(s.untouched());

        // Keys sent straight to a covered control go nowhere.
        QSignalSpy stopPressed(child<QPushButton>(s.w(), "cmdStop"), &QPushButton::pressed);
        for (const char* name : {"cmdDelete", "cmdAddFile", "cmdAddFolder", "cmdRemoveFile",
                                 "cmdClearList", "List1", "cmdStop"}) {
            QWidget* covered = child(s.w(), name);
            QCOMPARE(covered->focusPolicy(), Qt::NoFocus);
            for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Delete,
                                Qt::Key_End, Qt::Key_Tab})
                QTest::keyClick(covered, key);
        }
        QVERIFY(s.untouched());
        QVERIFY(s.dialogs.asked.isEmpty()); // no file or folder dialog was opened
        QCOMPARE(stopPressed.count(), 0);
    }

    void aPanelBroughtForwardTakesTheFocusAndTheKeys()
    {
        Started s;
        QVERIFY(showActive(s.w()));
        s.w()->findChild<QAction*>(QStringLiteral("mnuFileCleaner"))->trigger();
        QCOMPARE(focusName(s.w()), QStringLiteral("List1"));
        QCOMPARE(tabChain(s.w(), 6), kFileCleanerChain.mid(1) + QStringList{"List1"});

        s.w()->findChild<QAction*>(QStringLiteral("mnuDiskCleaner"))->trigger();
        QCOMPARE(focusName(s.w()), QStringLiteral("Drive1"));
        QCOMPARE(distinct(tabChain(s.w(), 5)), (QStringList{"Command1", "Drive1"}));
        QVERIFY(s.untouched());

        // In front again, the File Cleaner works by keyboard alone: five Tabs from the list
        // reach the delete button, Space presses it.
        s.w()->findChild<QAction*>(QStringLiteral("mnuFileCleaner"))->trigger();
        for (int i = 0; i < 5; ++i)
            press(s.w(), Qt::Key_Tab);
        QCOMPARE(focusName(s.w()), QStringLiteral("cmdDelete"));
        press(s.w(), Qt::Key_Space);
        QTRY_VERIFY(!exists(s.victim));
        QCOMPARE(child<QLabel>(s.w(), "lblStatus")->text(), QStringLiteral("Done"));
    }

    void theStopButtonTakesTheFocusWhileItIsInFront()
    {
        Started s;
        // Free space the run sees shrink only when asked to stop.
        FakeVolumes::Volume& volume = s.volumes.volumes.begin()->second;
        volume.freeBytes = [] { return std::uint64_t(1) << 20; };
        QVERIFY(showActive(s.w()));
        press(s.w(), Qt::Key_Tab);
        QCOMPARE(focusName(s.w()), QStringLiteral("Command1"));
        QStringList duringRun;
        s.loop.onYield = [&] {
            if (!duringRun.isEmpty() || !s.window->diskPanel().isRunning())
                return;
            duringRun << focusName(s.w());
            duringRun << distinct(tabChain(s.w(), 4));
            s.w()->findChild<QWidget*>(QStringLiteral("cmdStop"))->setFocus();
            press(s.w(), Qt::Key_Space); // stops the run
        };
        press(s.w(), Qt::Key_Space);
        QVERIFY(!s.window->diskPanel().isRunning());
        // The focus went with the pressed button to the Stop button in front; the Tab chain
        // reached it and not the start button behind it (the drive list is closed).
        QCOMPARE(duringRun, (QStringList{"cmdStop", "cmdStop"}));
        QCOMPARE(focusName(s.w()), QStringLiteral("Command1"));
        QCOMPARE(child(s.w(), "cmdStop")->focusPolicy(), Qt::NoFocus);
        QVERIFY(!exists(s.dir.file("ovtempx.dat")));
        QVERIFY(s.untouched());
    }

    // F10 opens the first menu; Alt alone shows the access keys and moves into the menu
    // bar, so that the arrows that follow go to the menu and not to the drive list that has
    // the focus. Every style of Qt itself does so; the run under Adwaita (its high-contrast
    // variant, which a low-vision user may choose), which does not, shows that the window
    // does it whatever the desktop's style.
    void f10AndAltLeadIntoTheMenu()
    {
        const QByteArray wanted = qgetenv("QT_STYLE_OVERRIDE");
        if (!wanted.isEmpty() &&
            QApplication::style()->name().compare(QLatin1String(wanted), Qt::CaseInsensitive)) {
            if (qEnvironmentVariableIsSet("OV_E2E_REQUIRED"))
                QFAIL("the style " + wanted + " is not installed");
            QSKIP("the style " + wanted + " is not installed");
        }
        Started s;
        s.volumes.add(s.dir.file("other") + "/", 1 << 20, 5000);
        s.window->diskPanel().refreshDriveList();
        auto* drives = child<QComboBox>(s.w(), "Drive1");
        QCOMPARE(drives->count(), 2);
        drives->setCurrentIndex(0);
        QVERIFY(showActive(s.w()));
        QCOMPARE(focusName(s.w()), QStringLiteral("Drive1"));
        auto* file = s.w()->findChild<QMenu*>(QStringLiteral("mnuFile"));
        QCOMPARE(file->title(), QStringLiteral("&File")); // shown "File", F underlined
        QCOMPARE(s.w()->findChild<QMenu*>(QStringLiteral("mnuView"))->title(),
                 QStringLiteral("&View"));
        QCOMPARE(s.w()->findChild<QMenu*>(QStringLiteral("mnuHelp"))->title(),
                 QStringLiteral("&Help"));

        // Alt pressed and let go alone shows the access keys; then Down opens the File menu
        // and the drive stays what it was.
        QMenuBar* bar = s.window->menuBar();
        QTest::keyPress(s.w()->windowHandle(), Qt::Key_Alt, Qt::AltModifier);
        QTest::keyRelease(s.w()->windowHandle(), Qt::Key_Alt, Qt::NoModifier);
        QStyleOptionMenuItem title;
        title.initFrom(bar);
        title.text = file->title();
        QVERIFY(bar->style()->styleHint(QStyle::SH_UnderlineShortcut, &title, bar));
        press(s.w(), Qt::Key_Down);
        QTRY_COMPARE(QApplication::activePopupWidget(), file);
        press(file, Qt::Key_Down);
        QCOMPARE(drives->currentIndex(), 0);
        // Escape closes the menu, a second one leaves the bar: the focus is back on the
        // drive list, where an arrow now does change the drive.
        press(file, Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        press(s.w(), Qt::Key_Escape);
        QCOMPARE(focusName(s.w()), QStringLiteral("Drive1"));
        press(s.w(), Qt::Key_Down);
        QCOMPARE(drives->currentIndex(), 1);

        press(s.w(), Qt::Key_F10);
        QTRY_COMPARE(QApplication::activePopupWidget(), file);
        press(file, Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        press(s.w(), Qt::Key_Escape);
        QCOMPARE(drives->currentIndex(), 1);
        QVERIFY(s.untouched());
    }

    // Behind the File Cleaner the drive list is hidden; an arrow sent to it changes
    // nothing.
    void anArrowOnACoveredDriveListDoesNothing()
    {
        Started s;
        s.volumes.add(s.dir.file("other") + "/", 1 << 20, 5000);
        s.window->diskPanel().refreshDriveList();
        auto* drives = child<QComboBox>(s.w(), "Drive1");
        drives->setCurrentIndex(0);
        QVERIFY(showActive(s.w()));
        s.w()->findChild<QAction*>(QStringLiteral("mnuFileCleaner"))->trigger();
        QVERIFY(!drives->isVisible());
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_End, Qt::Key_PageDown})
            QTest::keyClick(drives, key);
        press(s.w(), Qt::Key_Down); // the list in front has the focus
        QCOMPARE(drives->currentIndex(), 0);
    }

    // A file dialog that leaves no window active when it closes (as happened with a
    // screen reader's listener running) still gives the keyboard back: the main window is
    // active, the button that opened the dialog has the focus and Tab goes on from it.
    void theFocusComesBackAfterAFileDialog()
    {
        Started s;
        QVERIFY(showActive(s.w()));
        s.w()->findChild<QAction*>(QStringLiteral("mnuFileCleaner"))->trigger();
        press(s.w(), Qt::Key_Tab);
        QCOMPARE(focusName(s.w()), QStringLiteral("cmdAddFile"));
        s.dialogs.files.push_back(s.dir.file("chosen"));
        s.dialogs.whileOpen = [] {
            QWidget other;
            other.setWindowTitle(QStringLiteral("Select File"));
            QVERIFY(showActive(&other));
        }; // the dialog's window goes, taking the activation with it
        press(s.w(), Qt::Key_Space);
        QTRY_VERIFY(s.w()->isActiveWindow());
        QCOMPARE(QApplication::focusWidget(), child(s.w(), "cmdAddFile"));
        QCOMPARE(s.window->pendingList()->count(), 2);
        press(s.w(), Qt::Key_Tab);
        QCOMPARE(focusName(s.w()), QStringLiteral("cmdAddFolder"));
    }

    void optionsOnlyThePageInFrontTakesKeys()
    {
        World world;
        QPointer<frmOptions> dialog = new frmOptions(world.context);
        QVERIFY(showActive(dialog));
        QCOMPARE(focusName(dialog), QStringLiteral("cmdCancel"));
        QCOMPARE(tabChain(dialog, 6),
                 (QStringList{"cmdOK", "Check1", "Check2", "Command1", "Command2", "cmdCancel"}));
        // The covered levels are hidden and ignore keys sent to them.
        QVERIFY(!dialog->Option1(2)->isVisible());
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Up, Qt::Key_Down})
            QTest::keyClick(dialog->Option1(2), key);
        QVERIFY(!dialog->Option1(2)->isChecked());

        child(dialog, "Command1")->setFocus();
        press(dialog, Qt::Key_Space); // "Security": its first control takes the focus
        QCOMPARE(focusName(dialog), QStringLiteral("Option1_2"));
        // One stop for the group of levels; the arrows move within it.
        QCOMPARE(tabChain(dialog, 5),
                 (QStringList{"Command1", "Command2", "cmdCancel", "cmdOK", "Option1_2"}));
        press(dialog, Qt::Key_Up);
        QCOMPARE(focusName(dialog), QStringLiteral("Option1_1"));
        press(dialog, Qt::Key_Space);
        QVERIFY(dialog->Option1(1)->isChecked());
        child(dialog, "Check1")->setFocus();
        press(dialog, Qt::Key_Space);
        QVERIFY(!child<QCheckBox>(dialog, "Check1")->isChecked());

        child(dialog, "Command2")->setFocus();
        press(dialog, Qt::Key_Space); // "General"
        QCOMPARE(focusName(dialog), QStringLiteral("Check1"));
        press(dialog, Qt::Key_Space);
        QVERIFY(child<QCheckBox>(dialog, "Check1")->isChecked());
        press(dialog, Qt::Key_Return); // Save, from anywhere
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(world.settings.SecurityLevel, QStringLiteral("2"));
        QVERIFY(world.settings.LogOperations);
    }

    // Enter presses Save, Close, Close wherever the focus is; Escape cancels or closes.
    void optionsEnterSavesEscapeCancels_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("saved");
        QTest::newRow("Enter on Cancel") << int(Qt::Key_Return) << "cmdCancel" << true;
        QTest::newRow("keypad Enter on a box") << int(Qt::Key_Enter) << "Check2" << true;
        QTest::newRow("Enter on a page button") << int(Qt::Key_Return) << "Command2" << true;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << "Check2" << false;
        QTest::newRow("Space on Cancel") << int(Qt::Key_Space) << "cmdCancel" << false;
    }
    void optionsEnterSavesEscapeCancels()
    {
        QFETCH(int, key);
        QFETCH(QString, focus);
        QFETCH(bool, saved);
        World world;
        QPointer<frmOptions> dialog = new frmOptions(world.context);
        QVERIFY(showActive(dialog));
        child<QCheckBox>(dialog, "Check2")->setChecked(true);
        child(dialog, qPrintable(focus))->setFocus();
        press(dialog, Qt::Key(key));
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(world.settings.ScrambleNames, saved);
        QCOMPARE(world.store.ReadSetting(QStringLiteral("Scramble")),
                 saved ? QStringLiteral("1") : QString());
    }

    void logViewerEnterAndEscapeClose()
    {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            World world;
            writeFile(world.log.path(), "[1 - 2] : kept\r\n");
            QPointer<frmViewLog> viewer = new frmViewLog(world.context);
            QVERIFY(showActive(viewer));
            QCOMPARE(focusName(viewer), QStringLiteral("List1"));
            press(viewer, Qt::Key_Tab);
            QCOMPARE(focusName(viewer), QStringLiteral("Command2"));
            press(viewer, key); // on "Clear Log": Enter still means Close
            QTRY_VERIFY(viewer.isNull());
            QVERIFY(exists(world.log.path()));
        }
        // Space presses the button that has the focus.
        World world;
        writeFile(world.log.path(), "[1 - 2] : gone\r\n");
        QPointer<frmViewLog> viewer = new frmViewLog(world.context);
        QVERIFY(showActive(viewer));
        press(viewer, Qt::Key_Tab);
        press(viewer, Qt::Key_Space);
        QVERIFY(!exists(world.log.path()));
        QCOMPARE(child<QListWidget>(viewer, "List1")->count(), 0);
        press(viewer, Qt::Key_Tab);
        QCOMPARE(focusName(viewer), QStringLiteral("cmdExit"));
        press(viewer, Qt::Key_Space);
        QTRY_VERIFY(viewer.isNull());
    }

    void aboutLinksByKeyboardEnterAndEscapeClose()
    {
        World world;
        QPointer<frmAbout> about = new frmAbout(world.context);
        QVERIFY(showActive(about));
        QCOMPARE(focusName(about), QStringLiteral("Command1"));
        QCOMPARE(tabChain(about, 3), (QStringList{"lblLink", "Label2", "Command1"}));
        press(about, Qt::Key_Tab);
        press(about, Qt::Key_Return);
        press(about, Qt::Key_Tab);
        press(about, Qt::Key_Space);
        QCOMPARE(world.opener.targets, (QStringList{frmAbout::webAddress(), frmAbout::mailLink()}));
        QVERIFY(about);               // the links leave the box open
        press(about, Qt::Key_Return); // on the mail link: it opens again, Close is not pressed
        QCOMPARE(world.opener.targets.size(), 3);
        about->findChild<QPushButton*>(QStringLiteral("Command1"))->setFocus();
        press(about, Qt::Key_Escape);
        QTRY_VERIFY(about.isNull());

        QPointer<frmAbout> again = new frmAbout(world.context);
        QVERIFY(showActive(again));
        press(again, Qt::Key_Enter);
        QTRY_VERIFY(again.isNull());
        QCOMPARE(world.opener.targets.size(), 3);
    }

    // The three are dialogs to assistive technology and to the window manager, yet they
    // leave the main window usable.
    void secondaryWindowsAreNonModalDialogs()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        QVERIFY(showActive(&main));
        for (const char* action : {"mnuOptions", "mnuViewLogs", "mnuAbout"})
            main.findChild<QAction*>(QLatin1String(action))->trigger();
        const QList<QDialog*> dialogs = {
            qobject_cast<QDialog*>(frmOptions::showSingle(world.context)),
            qobject_cast<QDialog*>(frmViewLog::showSingle(world.context)),
            qobject_cast<QDialog*>(frmAbout::showSingle(world.context))};
        for (QDialog* dialog : dialogs) {
            QVERIFY(dialog);
            QVERIFY(!dialog->isModal());
            QCOMPARE(QAccessible::queryAccessibleInterface(dialog)->role(), QAccessible::Dialog);
        }
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(main.isEnabled());
        main.findChild<QAction*>(QStringLiteral("mnuFileCleaner"))->trigger();
        QCOMPARE(focusName(&main), QStringLiteral("List1"));
        for (QDialog* dialog : dialogs)
            dialog->close();
    }
};

QTEST_MAIN(KeyboardTest)
#include "KeyboardTest.moc"
