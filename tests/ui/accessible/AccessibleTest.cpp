// The windows through the accessibility interface, as a screen reader sees them: names,
// roles, descriptions, relations, actions and the announcements of changes.
#include "ui/AccessibleLabels.h"
#include "ui/UiWorld.h"
#include "ui/dialogs/frmAbout.h"
#include "ui/dialogs/frmOptions.h"
#include "ui/dialogs/frmViewLog.h"
#include "ui/disk/DiskPanel.h"
#include "ui/file/PendingList.h"
#include "ui/main/frmMain.h"

#include <QAccessible>

using namespace ov;
using namespace ov::test;

namespace {

QAccessibleInterface* accessible(QWidget* window, const char* name)
{
    auto* widget = window->findChild<QWidget*>(QLatin1String(name));
    return widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
}

QString text(QWidget* window, const char* name, QAccessible::Text kind = QAccessible::Name)
{
    QAccessibleInterface* iface = accessible(window, name);
    return iface ? iface->text(kind) : QStringLiteral("(no control %1)").arg(name);
}

// The controls of a window that assistive technology reads but finds without a name.
QStringList unnamed(QWidget* window)
{
    QStringList found;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                             qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                             qobject_cast<QAbstractItemView*>(w) || qobject_cast<QGroupBox*>(w) ||
                             qobject_cast<QFrame*>(w);
        if (!control || w->objectName().isEmpty() ||
            w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).trimmed().isEmpty())
            found << w->objectName();
    }
    return found;
}

// The notifications that came to show, as assistive technology reads each as it shows
// (Qt passes the show on to the screen reader, which speaks it).
struct Listener : QObject
{
    QStringList announced;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show || !qobject_cast<Announcer*>(watched))
            return false;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(watched);
        if (iface->role() == QAccessible::Notification && !iface->state().invisible)
            announced << iface->text(QAccessible::Name);
        return false;
    }
};

// Showing to assistive technology: not hidden itself nor by what holds it.
bool showing(QWidget* window, const char* name)
{
    for (QAccessibleInterface* iface = accessible(window, name); iface; iface = iface->parent()) {
        if (iface->state().invisible)
            return false;
        if (iface->object() == window)
            return true;
    }
    return true;
}

} // namespace

class AccessibleTest : public QObject
{
    Q_OBJECT

private slots:
    void valueBoxesAndCountersAreReadByTheirCaptions()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        for (int index : {1, 2, 3, 4, 6, 7, 8}) {
            const QByteArray box = "txt" + QByteArray::number(index);
            const QByteArray caption = "lbl" + QByteArray::number(index);
            QAccessibleInterface* iface = accessible(&main, box);
            QCOMPARE(iface->role(), QAccessible::EditableText);
            QCOMPARE(iface->text(QAccessible::Name), text(&main, caption));
            QCOMPARE(iface->text(QAccessible::Value),
                     main.findChild<QLineEdit*>(QLatin1String(box))->text());
            const auto labels = iface->relations(QAccessible::Label);
            QVERIFY2(!labels.isEmpty() && labels.first().first->object()->objectName() == caption,
                     box.constData());
        }
        QCOMPARE(text(&main, "txt2", QAccessible::Value),
                 QStringLiteral("1.50 GB (1,610,612,736 bytes)"));
        const std::pair<const char*, const char*> counters[] = {
            {"Label4", "Total Files:"}, {"Label5", "Files Deleted:"}, {"Label6", "Files Left:"}};
        for (auto [counter, caption] : counters) {
            QAccessibleInterface* iface = accessible(&main, counter);
            QCOMPARE(iface->role(), QAccessible::StaticText);
            QCOMPARE(iface->text(QAccessible::Name), QString(caption));
            QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("0"));
            QCOMPARE(iface->textInterface()->text(0, 1), QStringLiteral("0"));
        }
        for (const char* status : {"lblStatus", "lblStatus2"}) {
            QAccessibleInterface* iface = accessible(&main, status);
            QCOMPARE(iface->role(), QAccessible::StatusBar);
            QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Status: "));
            QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("Ready..."));
        }
    }

    void theListIsReadByItsTipAndTipsAreDescriptions()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        QAccessibleInterface* list = accessible(&main, "List1");
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->text(QAccessible::Name),
                 QStringLiteral("Files which are pending deletion."));
        QCOMPARE(list->text(QAccessible::Description), list->text(QAccessible::Name));
        const std::pair<const char*, const char*> tips[] = {
            {"cmdAddFolder", "Add all files in a folder to the list of files to be deleted."},
            {"cmdAddFile", "Add 1 file to to the list of files to be deleted."},
            {"cmdClearList", "Clear all items on the list."},
            {"cmdRemoveFile", "Remove one selected file from the list."}};
        for (auto [button, tip] : tips) {
            QCOMPARE(accessible(&main, button)->role(), QAccessible::Button);
            QCOMPARE(text(&main, button, QAccessible::Description), QString(tip));
        }
        QCOMPARE(text(&main, "cmdDelete"), QStringLiteral("Ombrevault"));
    }

    // The delete button keeps its caption and tip; its description says what one press
    // will destroy, as the list and the level are when the button is reached.
    void theDeleteButtonTellsWhatItWillDestroy()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        main.mnuFileCleaner_Click();
        auto* list = main.pendingList();
        list->appendEntry(world.dir.file("a"));
        list->appendEntry(world.dir.file("b"));
        QCOMPARE(text(&main, "cmdDelete", QAccessible::Description),
                 QStringLiteral("destroys the 2 files on the list at the medium level"));
        world.settings.SecurityLevel = QStringLiteral("3");
        list->takeItem(0);
        QCOMPARE(text(&main, "cmdDelete", QAccessible::Description),
                 QStringLiteral("destroys the 1 file on the list at the high level"));
        world.settings.SecurityLevel = QStringLiteral("1");
        main.show();
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        main.findChild<QWidget*>(QStringLiteral("cmdDelete"))->setFocus();
        QCOMPARE(text(&main, "cmdDelete", QAccessible::Description),
                 QStringLiteral("destroys the 1 file on the list at the least level"));
        QCOMPARE(text(&main, "cmdDelete"), QStringLiteral("Ombrevault"));
    }

    // A long path is cut by the list's edge: its whole text is the entry's tip and what a
    // screen reader reads of it.
    void everyEntryIsReadWhole()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        const QByteArray path = world.dir.file(QByteArray(120, 'd') + "/the file's name.txt");
        main.pendingList()->appendEntry(path);
        QAccessibleInterface* entry = accessible(&main, "List1")->child(0);
        QVERIFY(entry);
        QCOMPARE(entry->text(QAccessible::Name), QString::fromUtf8(path));
        QCOMPARE(main.pendingList()->item(0)->toolTip(), QString::fromUtf8(path));
    }

    // What lies behind is not showing: the covered panel, the Stop button behind the start
    // button, the options' covered page. An empty notice says nothing; the drive list is
    // read by its caption; the band is a progress indicator.
    void theTreeShowsWhatTheScreenShows()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        for (const char* hidden : {"cmdDelete", "List1", "Label4", "cmdStop", "frmFile"})
            QVERIFY2(!showing(&main, hidden), hidden);
        for (const char* shown : {"Drive1", "Command1", "txt2", "frmDisk"})
            QVERIFY2(showing(&main, shown), shown);
        QVERIFY(!showing(&main, "lblNotice")); // empty
        main.mnuFileCleaner_Click();
        for (const char* shown : {"cmdDelete", "List1", "Label4", "picGrad"})
            QVERIFY2(showing(&main, shown), shown);
        QVERIFY(!showing(&main, "Drive1"));
        main.mnuDiskCleaner_Click();
        QVERIFY(!showing(&main, "cmdDelete"));
        QVERIFY(showing(&main, "Drive1"));

        const auto labels = accessible(&main, "Drive1")->relations(QAccessible::Label);
        QVERIFY(!labels.isEmpty());
        QCOMPARE(labels.first().first->text(QAccessible::Name), QStringLiteral("Drive:"));
        // A closed drop-down list has no text of its own on the bus: the chosen drive is
        // its description, heard after the caption, from the start and after each change.
        auto* drives = main.findChild<QComboBox*>(QStringLiteral("Drive1"));
        QVERIFY(!drives->currentText().isEmpty());
        QCOMPARE(accessible(&main, "Drive1")->text(QAccessible::Description),
                 drives->currentText());
        world.volumes.add(world.dir.file("other") + "/", 1 << 20, 5000);
        main.diskPanel().refreshDriveList();
        drives->setCurrentIndex(1);
        QCOMPARE(accessible(&main, "Drive1")->text(QAccessible::Description), drives->itemText(1));
        QCOMPARE(accessible(&main, "picGrad")->role(), QAccessible::ProgressBar);

        frmOptions options(world.context);
        options.show();
        QVERIFY(QTest::qWaitForWindowExposed(&options));
        QVERIFY(!showing(&options, "Option1_0"));
        QVERIFY(showing(&options, "Check1"));
    }

    // The end of a run is spoken: a notification shows with the status and the counts,
    // or with the failure.
    void theEndOfARunIsAnnounced()
    {
        World world;
        world.settings.SecurityLevel = QStringLiteral("1");
        frmMain main(world.context, CommandLine{});
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        Listener listener;
        qApp->installEventFilter(&listener);
        QStringList& announced = listener.announced;
        writeFile(world.dir.file("a"), "x");
        main.pendingList()->appendEntry(world.dir.file("a"));
        main.cmdDelete_Click();
        main.pendingList()->appendEntry(world.dir.file("gone"));
        main.cmdDelete_Click();
        main.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        QTRY_COMPARE(announced.size(), 3);
        qApp->removeEventFilter(&listener);
        QCOMPARE(announced[0], QStringLiteral("Done. Files Deleted: 1, Files Left: 0."));
        QVERIFY2(announced[1].startsWith("Failed: Nothing was destroyed"),
                 qPrintable(announced[1]));
        QVERIFY2(announced[1].endsWith("Files Deleted: 0, Files Left: 1."),
                 qPrintable(announced[1]));
        QVERIFY2(announced[2].contains(" Cleaned, ") && announced[2].endsWith(" Left to clean."),
                 qPrintable(announced[2]));
    }

    void everyControlHasANameInEveryWindow()
    {
        World world;
        writeFile(world.log.path(), "[1 - 2] : line\r\n");
        frmMain main(world.context, CommandLine{});
        frmOptions options(world.context);
        frmViewLog viewer(world.context);
        frmAbout about(world.context);
        for (QWidget* window : std::initializer_list<QWidget*>{&main, &options, &viewer, &about})
            QVERIFY2(unnamed(window).isEmpty(), qPrintable(unnamed(window).join(", ")));
        QCOMPARE(QAccessible::queryAccessibleInterface(&options)->role(), QAccessible::Dialog);
        QCOMPARE(QAccessible::queryAccessibleInterface(&options)->text(QAccessible::Name),
                 QStringLiteral("Options"));
    }

    // What lies behind is no stop for a screen reader's focus either.
    void coveredControlsAreNotFocusable()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        QVERIFY(!accessible(&main, "cmdDelete")->state().focusable);
        QVERIFY(!accessible(&main, "cmdStop")->state().focusable);
        QVERIFY(accessible(&main, "Command1")->state().focusable);
        main.mnuFileCleaner_Click();
        QVERIFY(accessible(&main, "cmdDelete")->state().focusable);
        frmOptions options(world.context);
        QVERIFY(!accessible(&options, "Option1_0")->state().focusable);
        QVERIFY(accessible(&options, "Check1")->state().focusable);
    }

    void aboutLinksAreLinksWithAPressAction()
    {
        World world;
        frmAbout about(world.context);
        for (const char* link : {"lblLink", "Label2"}) {
            QAccessibleInterface* iface = accessible(&about, link);
            QCOMPARE(iface->role(), QAccessible::Link);
            QVERIFY(iface->state().focusable);
            QVERIFY(!iface->text(QAccessible::Name).isEmpty());
            QVERIFY(iface->actionInterface()->actionNames().contains(
                QAccessibleActionInterface::pressAction()));
            iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        }
        QCOMPARE(world.opener.targets, (QStringList{frmAbout::webAddress(), frmAbout::mailLink()}));
        QCOMPARE(text(&about, "lblLink"), frmAbout::webAddress().toUpper());
    }

    // A screen reader reading the status line or a counter gets its value as it is now.
    void statusLinesAndCountersFollowTheRun()
    {
        World world;
        world.settings.SecurityLevel = QStringLiteral("1");
        frmMain main(world.context, CommandLine{});
        writeFile(world.dir.file("a"), "x");
        main.pendingList()->appendEntry(world.dir.file("a"));
        QStringList statuses;
        world.loop.onYield = [&] {
            const QString now = text(&main, "lblStatus", QAccessible::Value);
            if (statuses.value(statuses.size() - 1) != now)
                statuses << now;
        };
        main.cmdDelete_Click();
        QVERIFY(!exists(world.dir.file("a")));
        QCOMPARE(statuses, (QStringList{"Preparing and checking for duplicate entries.",
                                        "0 Duplicate entries found and removed", " Working.."}));
        QAccessibleInterface* status = accessible(&main, "lblStatus");
        QCOMPARE(status->textInterface()->text(0, status->textInterface()->characterCount()),
                 QStringLiteral("Done"));
        QCOMPARE(text(&main, "Label5", QAccessible::Value), QStringLiteral("1"));
        QCOMPARE(text(&main, "Label5"), QStringLiteral("Files Deleted:"));
    }
};

QTEST_MAIN(AccessibleTest)
#include "AccessibleTest.moc"
