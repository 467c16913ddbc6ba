#include "ui/main/frmMain.h"
#include "platform/LinuxVolumes.h"
#include "support/LoopMount.h"
#include "ui/MainHarness.h"
#include "ui/Stacking.h"
#include "ui/main/cTooltip.h"

using namespace ov;
using namespace ov::test;

namespace {

// Starts a run and closes the window at the first yield where the run is far enough: the
// window stays open until the run has returned, then closes with the pointer restored.
void closeDuringRun(Harness& h, const std::function<bool()>& farEnough,
                    const std::function<void()>& close, const std::function<void()>& start)
{
    QVERIFY(h.show());
    bool asked = false, stillOpen = false;
    h.loop.onYield = [&] {
        if (!asked && farEnough()) {
            asked = true;
            close();
            stillOpen = h.window->isVisible();
        }
    };
    start();
    QVERIFY(stillOpen);
    QVERIFY(!h.window->isVisible());
    QVERIFY(!h.busy());
}

} // namespace

class frmMainTest : public QObject
{
    Q_OBJECT

private slots:
    void startUp()
    {
        Harness h;
        h.store.WriteSetting(QStringLiteral("Log"), QStringLiteral("1"));
        h.store.WriteSetting(QStringLiteral("Strenth"), QStringLiteral("3"));
        h.window = std::make_unique<frmMain>(h.windowContext, CommandLine{}); // reads the store
        QVERIFY(h.show());
        QCOMPARE(h.panelInFront(), h.child("frmDisk"));
        // Behind it, nothing of the File Cleaner shows, to the eye or to a screen reader.
        QVERIFY(isCovered(h.child("frmFile")) && h.child("frmFile")->isHidden());
        QVERIFY(h.settings.LogOperations);
        QCOMPARE(h.settings.SecurityLevel, QStringLiteral("3"));
        QVERIFY(h.idle());

        // Every caption of the File Cleaner fits its control.
        for (QLabel* label : h.child("frmFile")->findChildren<QLabel*>()) {
            QVERIFY2(label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                       : label->sizeHint().width() <= label->width(),
                     qPrintable(label->objectName()));
        }
        for (QPushButton* button : h.listCommands())
            QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(button->text()));

        // The list and its buttons have tips of their own.
        h.window->mnuFileCleaner_Click();
        int quick = 1;
        h.window->tooltip().setDelayTime(quick);
        QStringList tips;
        for (const char* name : {"List1", "cmdAddFile", "cmdAddFolder", "cmdRemoveFile",
                                 "cmdClearList", "cmdDelete"}) {
            QTest::mouseMove(h.child(name), h.child(name)->rect().center());
            const auto tip = [&] { return h.window->tooltip().shownText(); };
            QTRY_VERIFY2(!tip().isEmpty() && !tips.contains(tip()), name);
            tips << tip();
        }
        QTest::mouseMove(h.child("Label7")); // no tip of its own
        QVERIFY(h.window->tooltip().shownText().isEmpty());
    }

    void commandLineBecomesOneEntry_data()
    {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<Paths>("expected");
        using L = QList<QByteArray>;
        QTest::newRow("none") << L{} << Paths{};
        QTest::newRow("trimmed") << L{"   /tmp/a file.txt  "} << Paths{"/tmp/a file.txt"};
        QTest::newRow("two paths, one entry") << L{"/tmp/a", "/tmp/b"} << Paths{"/tmp/a /tmp/b"};
        QTest::newRow("quotes kept") << L{"\"/tmp/x y\""} << Paths{"\"/tmp/x y\""};
        QTest::newRow("all blank") << L{"   "} << Paths{""};
        QTest::newRow("bytes kept") << L{"/tmp/\xff\xfe"} << Paths{"/tmp/\xff\xfe"};
    }
    void commandLineBecomesOneEntry()
    {
        QFETCH(QList<QByteArray>, args);
        QTEST(Harness(args).entries(), "expected");
    }

    void panelCommandsFromEitherState()
    {
        Harness h({"/tmp/x"});
        QVERIFY(h.show());
        QWidget* disk = h.child("frmDisk");
        QWidget* file = h.child("frmFile");
        h.window->mnuDiskCleaner_Click(); // right after start: nothing changes
        QCOMPARE(h.panelInFront(), disk);
        QVERIFY(isCovered(file) && file->isHidden());
        for (int twice = 0; twice < 2; ++twice) {
            h.child<QAction>("mnuFileCleaner")->trigger();
            QCOMPARE(h.panelInFront(), file);
            QVERIFY(disk->isHidden());
        }
        h.child<QAction>("mnuDiskCleaner")->trigger();
        QCOMPARE(h.panelInFront(), disk);
        QVERIFY(isCovered(file) && file->isHidden()); // covered, so not shown either
        QCOMPARE(h.entries(), Paths{"/tmp/x"});
    }

    void closingDuringARunStopsAfterTheFileInHand()
    {
        Harness h;
        // File by file (the least level's batch takes the files in hand together).
        h.settings.SecurityLevel = QStringLiteral("3");
        h.addFiles({"a", "b", "c"});
        QString said;
        // Closed in the middle of the second file (its first pass written): the status
        // line says what will happen.
        closeDuringRun(
            h,
            [&] {
                return exists(h.dir.file("b")) &&
                       readFile(h.dir.file("b")) != QByteArray(3000, 'x');
            },
            [&] {
                h.child<QAction>("mnuExit")->trigger();
                said = h.text("lblStatus");
            },
            [&] { h.window->cmdDelete_Click(); });
        QCOMPARE(said, QStringLiteral("The window will close after the file in hand."));
        QVERIFY(!exists(h.dir.file("a")) && !exists(h.dir.file("b")));
        QVERIFY(exists(h.dir.file("c"))); // none after the one in hand
        QCOMPARE(h.entries(), (Paths{h.dir.file("c")}));
        QVERIFY(h.text("lblStatus").startsWith(QStringLiteral("Stopped")));
        QCOMPARE(h.text("Label5"), QStringLiteral("2"));
        QVERIFY(!h.window->tooltip().tipWindow());

        Harness idle; // without a run the window closes at once
        QVERIFY(idle.show());
        QVERIFY(idle.window->close());
    }

    // What a free-space run could not reach is told whole under the facts: the window
    // grows to the notice's lines instead of cutting them.
    void theNoticeOfWhatARunCouldNotReachIsToldWhole()
    {
        Harness h;
        h.volumes.volumes.at(h.dir.path() + "/").snapshots = {"/srv/snapshots/home-2026-12-01",
                                                              "/srv/snapshots/home-2026-12-02",
                                                              "/srv/snapshots/home-2026-12-03"};
        QVERIFY(h.show());
        const QSize before = h.window->size();
        h.child<QPushButton>("Command1")->click();
        auto* notice = h.child<QLabel>("lblNotice");
        QVERIFY(notice->text().contains("home-2026-12-03 were taken"));
        QTRY_VERIFY(notice->height() >= notice->heightForWidth(notice->width()));
        QTRY_VERIFY(h.window->height() > before.height());
        const auto inWindow = [&](const QWidget* widget) {
            return QRect(widget->mapTo(h.window.get(), QPoint()), widget->size());
        };
        QVERIFY(h.window->rect().contains(inWindow(notice)));
        QVERIFY(!inWindow(notice).intersects(inWindow(h.child("Label10"))));
        QVERIFY(h.window->rect().contains(inWindow(h.child("Label10"))));
    }

    void closingDuringAFreeSpaceRunWaitsForItsEnd()
    {
        QString whyNot;
        auto volume = LoopMount::create(QStringLiteral("ext4"), 24 << 20, &whyNot);
        if (!volume)
            QSKIP(qPrintable(whyNot));
        InPlaceRunner direct;
        LinuxVolumes mounted(direct); // this test needs the real loop volume
        Harness h({}, &mounted);
        auto* drives = h.child<QComboBox>("Drive1");
        drives->setCurrentIndex(drives->findData(volume->mountPoint()));
        QVERIFY(drives->currentIndex() >= 0);
        const QByteArray filler = volume->mountPoint() + "/ovtempx.dat";
        closeDuringRun(
            h, [&] { return exists(filler); }, [&] { h.window->close(); }, // the close box
            [&] { h.child<QPushButton>("Command1")->click(); });
        QVERIFY(!exists(filler)); // the run cleaned up first
    }
};

QTEST_MAIN(frmMainTest)
#include "frmMainTest.moc"
