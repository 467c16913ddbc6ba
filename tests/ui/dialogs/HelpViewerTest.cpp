// Help > Help on a desktop where no program opens the page: the window shows it itself.
#include "ui/dialogs/HelpViewer.h"
#include "ui/UiWorld.h"
#include "ui/dialogs/OpenLink.h"
#include "ui/main/frmMain.h"

#include <QAction>
#include <QScrollBar>
#include <QTextBrowser>

using namespace ov;
using namespace ov::test;
using Kind = LinkOpener::Outcome::Kind;

namespace {

QList<HelpViewer*> viewers(QWidget* main)
{
    return main->findChildren<HelpViewer*>();
}

} // namespace

class HelpViewerTest : public QObject
{
    Q_OBJECT
private slots:
    // Each way an opener fails: none to run, xdg-open finding no browser (3), one that
    // dies. The page appears once, whole, with no box; a second failure brings the same
    // viewer forward.
    void shownWhenNoProgramOpensIt_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::newRow("no opener") << int(Kind::NotStarted) << 0;
        QTest::newRow("no browser") << int(Kind::Finished) << 3;
        QTest::newRow("opener failed") << int(Kind::Finished) << 4;
        QTest::newRow("opener crashed") << int(Kind::Crashed) << 0;
    }
    void shownWhenNoProgramOpensIt()
    {
        QFETCH(int, kind);
        QFETCH(int, status);
        World world;
        frmMain main(world.context, CommandLine{});
        main.show();
        QAction* help = main.findChild<QAction*>(QStringLiteral("mnuHelp1"));
        for (int round = 0; round < 2; ++round) {
            help->trigger();
            QCOMPARE(world.opener.targets.size(), round + 1);
            QCOMPARE(world.opener.targets.last(), QFile::decodeName(helpPagePath()));
            world.opener.answer({Kind(kind), status});
        }
        QVERIFY2(world.dialogs.messages.isEmpty(), qPrintable(world.dialogs.messages.join('\n')));
        QCOMPARE(viewers(&main).size(), 1);
        HelpViewer* viewer = viewers(&main).first();
        QVERIFY(viewer->isVisible());
        QCOMPARE(viewer->accessibleName(), QStringLiteral("Ombrevault Help"));
        QCOMPARE(viewer->browser()->accessibleName(), QStringLiteral("Help page"));
        const QString text = viewer->browser()->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("The operation log")), qPrintable(text.left(200)));
        QVERIFY(!text.contains(QStringLiteral("<h2"))); // read as a page, not as text
    }

    // A browser that shows the page leaves the window alone.
    void notShownWhenABrowserOpensIt()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        main.findChild<QAction*>(QStringLiteral("mnuHelp1"))->trigger();
        world.opener.answer({Kind::Finished, 0});
        QVERIFY(viewers(&main).isEmpty());
        QVERIFY(world.dialogs.messages.isEmpty());
    }

    // The page's own links lead to their places, and Enter and Escape close the viewer.
    void linksAndKeys()
    {
        World world;
        QWidget owner;
        QVERIFY(HelpViewer::showPage(helpPagePath(), world.context, &owner));
        HelpViewer* viewer = viewers(&owner).value(0);
        QVERIFY(viewer);
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        QScrollBar* bar = viewer->browser()->verticalScrollBar();
        QCOMPARE(bar->value(), 0);
        viewer->browser()->setSource(QUrl(QStringLiteral("#log")));
        QVERIFY(bar->value() > 0);

        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            QVERIFY(HelpViewer::showPage(helpPagePath(), world.context, &owner));
            QPointer<HelpViewer> shown = viewers(&owner).value(0);
            QVERIFY(shown && shown->isVisible());
            QTest::keyClick(shown->browser(), key);
            QTRY_VERIFY(!shown || !shown->isVisible());
        }
    }

    // A page that cannot be read opens nothing, and the opener's failure is told in the box
    // it always had.
    void unreadablePageLeavesTheBox()
    {
        World world;
        QWidget owner;
        QVERIFY(!HelpViewer::showPage(world.dir.file("missing.html"), world.context, &owner));
        QVERIFY(viewers(&owner).isEmpty());
        const QString page = QFile::decodeName(world.dir.file("page.html"));
        QFile file(page);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        OpenLink(page, world.context, &owner, [](QWidget*) { return false; });
        world.opener.answer({Kind::Finished, 3});
        QCOMPARE(world.dialogs.messages.size(), 1);
        QVERIFY(world.dialogs.messages[0].startsWith("Exclamation|No Association In Registry|"));
    }
};

QTEST_MAIN(HelpViewerTest)
#include "HelpViewerTest.moc"
