// The windows through the accessibility interface, as a screen reader sees them: names,
// roles, descriptions, relations, actions and the announcements of changes.
#include "ui/UiWorld.h"
#include "ui/dialogs/frmAbout.h"
#include "ui/dialogs/frmOptions.h"
#include "ui/dialogs/frmViewLog.h"
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
            {"cmdRemoveFile", "Remove one selected file from the list."},
            {"cmdDelete", "Delete all of the selected files."}};
        for (auto [button, tip] : tips) {
            QCOMPARE(accessible(&main, button)->role(), QAccessible::Button);
            QCOMPARE(text(&main, button, QAccessible::Description), QString(tip));
        }
        QCOMPARE(text(&main, "cmdDelete"), QStringLiteral("Ombrevault"));
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
