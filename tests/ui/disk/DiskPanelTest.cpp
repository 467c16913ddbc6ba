// The Disk Cleaner panel, offscreen, on volumes made up by the test.
#include "ui/disk/DiskPanel.h"
#include "drive/FakeVolumes.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

namespace {

class RecordingDialogs : public ov::Dialogs
{
public:
    void messageBox(QWidget*, Icon icon, const QString& title, const QString& text) override
    {
        icons << icon;
        titles << title;
        texts << text;
    }
    std::optional<QByteArray> openFile(QWidget*, const QString&, const QByteArray&,
                                       const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QByteArray> chooseFolder(QWidget*, const QString&) override
    {
        return std::nullopt;
    }
    QList<Icon> icons;
    QStringList titles;
    QStringList texts;
};

const char kNote[] =
    "Note: Cleaning a drive will NOT delete any files. It will clean the free space on the "
    "drive where files might have been at one time or another. Please do not run any "
    "programs while this procedure is being performed. This will ensure it will finish with "
    "out any problems.";

} // namespace

class DiskPanelTest : public QObject
{
    Q_OBJECT

private:
    // A window with the frame the main window gives the panel.
    struct Fixture
    {
        explicit Fixture(ov::test::FakeVolumes& volumes, ov::EventLoop& loop)
        {
            frmDisk = new QGroupBox(QStringLiteral("Disk Cleaner "), &window);
            frmDisk->setGeometry(8, 8, 560, 300);
            window.resize(576, 316);
            context.volumes = &volumes;
            context.dialogs = &dialogs;
            context.loop = &loop;
            context.settings = &settings;
            panel = new ov::DiskPanel(frmDisk, context, &window);
            window.show();
        }
        template <class T> T* find(const char* name) const
        {
            return frmDisk->findChild<T*>(QString::fromLatin1(name));
        }
        QString text(const char* box) const { return find<QLineEdit>(box)->text(); }
        QComboBox* drives() const { return find<QComboBox>("Drive1"); }
        void pick(const QByteArray& mountPoint)
        {
            const int index = drives()->findData(mountPoint);
            QVERIFY(index >= 0);
            drives()->setCurrentIndex(index);
        }
        // The button that a click on the buttons' place reaches.
        QWidget* frontButton() const
        {
            QWidget* start = find<QPushButton>("Command1");
            QWidget* stack = start->parentWidget();
            return stack->childAt(stack->rect().center());
        }

        QWidget window;
        QGroupBox* frmDisk = nullptr;
        RecordingDialogs dialogs;
        ov::Settings settings;
        ov::AppContext context;
        ov::DiskPanel* panel = nullptr;
    };

    ov::test::FakeVolumes volumes;
    ov::DirectEventLoop direct;

private slots:
    void init()
    {
        volumes = ov::test::FakeVolumes();
        auto& root = volumes.add("/", 1610612736, 1073741824);
        root.space->availableBytes = 536870912;
        root.facts->serialNumber = 0x1A2B;
        root.facts->fileSystem = "ext4";
        root.label = "SYSTEM";
    }

    void controlsNamesAndTexts()
    {
        Fixture f(volumes, direct);
        QCOMPARE(f.find<QPushButton>("Command1")->text(), QString("Clean Selected Drive"));
        QCOMPARE(f.find<QPushButton>("cmdStop")->text(), QString("Stop"));
        QCOMPARE(f.find<QGroupBox>("Frame2")->title(), QString("Progress"));
        QCOMPARE(f.find<QLabel>("lblCleaned")->text(), QString("0 KB Cleaned"));
        QCOMPARE(f.find<QLabel>("lblLeft")->text(), QString("0 KB Left to clean"));
        QCOMPARE(f.find<QLabel>("Label9")->text(), QString("Status: "));
        QCOMPARE(f.find<QLabel>("lblStatus2")->text(), QString("Ready..."));
        QCOMPARE(f.find<QLabel>("Label10")->text(), QString::fromLatin1(kNote));
        const std::pair<int, const char*> captions[] = {
            {1, "Volume Serial Number:"}, {2, "Total Space:"},      {3, "Total Free Space:"},
            {4, "Available Free Space:"}, {6, "File System Name:"}, {7, "Drive Type:"},
            {8, "Volume Compressed:"}};
        for (auto [index, caption] : captions) {
            const QByteArray name = "lbl" + QByteArray::number(index);
            QVERIFY2(f.find<QLabel>(name.constData()), name.constData());
            QCOMPARE(f.find<QLabel>(name.constData())->text(), QString::fromLatin1(caption));
            const QByteArray box = "txt" + QByteArray::number(index);
            QVERIFY(f.find<QLineEdit>(box.constData())->isReadOnly());
        }
        QVERIFY(!f.find<QLabel>("lbl5"));
        QVERIFY(!f.find<QLineEdit>("txt5"));

        QCOMPARE(f.find<QPushButton>("Command1")->geometry(),
                 f.find<QPushButton>("cmdStop")->geometry());
        QCOMPARE(f.frontButton(), f.find<QPushButton>("Command1"));
        const QString family = f.find<QLabel>("Label10")->font().family();
        QVERIFY2(!family.isEmpty(), "a font family");
    }

    // The start-up drive and its rows.
    void presentDriveRows()
    {
        Fixture f(volumes, direct);
        QCOMPARE(f.drives()->currentText(), QString("/ [SYSTEM]"));
        QCOMPARE(f.text("txt1"), QString("0000-1A2B"));
        QCOMPARE(f.text("txt2"), QString("1.50 GB (1,610,612,736 bytes)"));
        QCOMPARE(f.text("txt3"), QString("1.00 GB (1,073,741,824 bytes)"));
        QCOMPARE(f.text("txt4"), QString("512 MB (536,870,912 bytes)"));
        QCOMPARE(f.text("txt6"), QString("ext4"));
        QCOMPARE(f.text("txt7"), QString("Fixed"));
        QCOMPARE(f.text("txt8"), QString("False"));
        QCOMPARE(f.find<QLabel>("lblNotice")->text(), QString());
        QVERIFY(f.dialogs.texts.isEmpty());
    }

    void notPresentNotices_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<QString>("notice");
        QTest::newRow("removable") << 2 << "Removable"
                                   << "[Disk Not Present]";
        QTest::newRow("cd-rom") << 5 << "CD-ROM"
                                << "[Disc Not Present]";
        QTest::newRow("fixed") << 3 << "Fixed"
                               << "";
        QTest::newRow("remote") << 4 << "Remote"
                                << "";
    }

    void notPresentNotices()
    {
        QFETCH(int, type);
        QFETCH(QString, typeText);
        QFETCH(QString, notice);
        auto& empty = volumes.add("/media/empty/", 0, 0);
        empty.space.reset();
        empty.type = type;
        Fixture f(volumes, direct);
        f.pick("/media/empty");
        for (const char* box : {"txt1", "txt2", "txt3", "txt4", "txt6", "txt8"})
            QCOMPARE(f.text(box), QString());
        QCOMPARE(f.text("txt7"), typeText);
        QCOMPARE(f.find<QLabel>("lblNotice")->text(), notice);
        QVERIFY(f.dialogs.texts.isEmpty());
        // Back on a present drive the notice goes.
        f.pick("/");
        QCOMPARE(f.find<QLabel>("lblNotice")->text(), QString());
        QCOMPARE(f.text("txt7"), QString("Fixed"));
    }

    void unmappedDriveAndCompressedVolume()
    {
        auto& packed = volumes.add("/packed/", 4096, 1024);
        packed.facts->flags = ov::kVolumeIsCompressed;
        packed.facts->serialNumber = 0;
        volumes.add("/gone/", 4096, 1024);
        Fixture f(volumes, direct);
        f.pick("/packed");
        QCOMPARE(f.text("txt8"), QString("True"));
        QCOMPARE(f.text("txt1"), QString());
        volumes.volumes.erase("/gone/");
        f.pick("/gone");
        QCOMPARE(f.text("txt7"), QString("No Root Directory"));
        QCOMPARE(f.find<QLabel>("lblNotice")->text(), QString("[Drive Not Mapped]"));
    }

    void pickingResetsTheProgressLabels()
    {
        volumes.add("/other/", 4096, 1024);
        Fixture f(volumes, direct);
        f.find<QLabel>("lblCleaned")->setText("1.00 MB\nCleaned");
        f.pick("/other");
        QCOMPARE(f.find<QLabel>("lblCleaned")->text(), QString("0 Cleaned"));
        QCOMPARE(f.find<QLabel>("lblLeft")->text(), QString("0 Cleaned left to clean"));
        QCOMPARE(f.find<QLabel>("lblStatus2")->text(), QString("Ready..."));
    }

    void theListIsReadAgainWhenItOpens()
    {
        Fixture f(volumes, direct);
        const int reads = volumes.mountReads;
        volumes.add("/media/stick/", 4096, 1024).label = "STICK";
        f.drives()->showPopup();
        f.drives()->hidePopup();
        QCOMPARE(volumes.mountReads, reads + 1);
        QVERIFY(f.drives()->findText("/media/stick [STICK]") >= 0);
        QCOMPARE(f.drives()->currentData().toByteArray(), QByteArray("/"));
    }

    void overflowsAreReportedWithTheirStep()
    {
        auto& big = volumes.add("/big/", 4096, 1024);
        Fixture f(volumes, direct);
        // Through Drive in step 2: the report, the pointer back to normal, labels kept.
        big.space->totalBytes = std::uint64_t(1) << 62;
        f.find<QLabel>("lblCleaned")->setText("kept");
        f.pick("/big");
        QCOMPARE(f.dialogs.texts.size(), 1);
        QVERIFY2(f.dialogs.texts[0].startsWith("The error occured on line 2please email the line "
                                               "number to support@tallowbrookworks.example"),
                 qPrintable(f.dialogs.texts[0]));
        QCOMPARE(f.dialogs.titles[0], QString("Ombrevault"));
        QCOMPARE(f.dialogs.icons[0], ov::Dialogs::Icon::Information);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(f.find<QLabel>("lblCleaned")->text(), QString("kept"));

        // Inside ShowDriveInfo (its rows read the space again): step 0, then the
        // handler goes on and resets the labels.
        big.space->totalBytes = 4096;
        int reads = 0;
        big.freeBytes = [&] { return ++reads == 1 ? 1024 : std::uint64_t(1) << 62; };
        f.pick("/");
        f.pick("/big");
        QCOMPARE(f.dialogs.texts.size(), 2);
        QVERIFY(f.dialogs.texts[1].startsWith("The error occured on line 0please"));
        QCOMPARE(f.find<QLabel>("lblCleaned")->text(), QString("0 Cleaned"));
    }

    void runStopAndRestartThroughTheButtons()
    {
        ov::test::TempDir dir;
        const QByteArray folder = dir.path();
        auto& volume = volumes.add(folder + "/", 1LL << 40, 0);
        std::int64_t written = 0;
        bool stopClicked = false;
        ov::QtEventLoop loop;
        Fixture f(volumes, loop);
        QPushButton* start = f.find<QPushButton>("Command1");
        QPushButton* stop = f.find<QPushButton>("cmdStop");
        bool sawRunning = false;
        volume.freeBytes = [&] {
            struct stat st;
            written = ::stat((folder + "/ovtempx.dat").constData(), &st) == 0 ? st.st_size : 0;
            if (written > 0 && !stopClicked) {
                stopClicked = true;
                // Looked at and clicked from the event loop, as a user would.
                QTimer::singleShot(0, [&] {
                    sawRunning = f.panel->isRunning() && !f.drives()->isEnabled() &&
                                 f.frontButton() == stop &&
                                 f.find<QLabel>("lblStatus2")->text() == "Working...";
                    QTest::mouseClick(f.frontButton(), Qt::LeftButton);
                    // The start button is in front again but cannot start a second run.
                    QCOMPARE(f.frontButton(), start);
                    QVERIFY(!start->isEnabled());
                });
            }
            return std::uint64_t(1) << 36;
        };
        f.pick(folder);
        QSignalSpy finished(f.panel, &ov::DiskPanel::runFinished);
        QTest::mouseClick(f.frontButton(), Qt::LeftButton);
        QCOMPARE(finished.count(), 1);
        QVERIFY(sawRunning);
        QVERIFY(!f.panel->isRunning());
        QCOMPARE(f.find<QLabel>("lblStatus2")->text(), QString("Done"));
        QVERIFY(f.drives()->isEnabled());
        QVERIFY(start->isEnabled());
        QCOMPARE(f.frontButton(), start);
        QVERIFY(!QFile::exists(QFile::decodeName(folder + "/ovtempx.dat")));
        QVERIFY(f.find<QLabel>("lblCleaned")->text().endsWith("\nCleaned"));
        QVERIFY(f.dialogs.texts.isEmpty());

        // requestStop is how the window closes during a run.
        stopClicked = false;
        volume.freeBytes = [&] {
            if (!stopClicked) {
                stopClicked = true;
                QTimer::singleShot(0, [&] { f.panel->requestStop(); });
            }
            return std::uint64_t(1) << 36;
        };
        QTest::mouseClick(f.frontButton(), Qt::LeftButton);
        QCOMPARE(finished.count(), 2);
        QVERIFY(!QFile::exists(QFile::decodeName(folder + "/ovtempx.dat")));
    }

    // Every control inside the frame, none over another, the note's lines all shown.
    void fitsTheFrame()
    {
        Fixture f(volumes, direct);
        QCoreApplication::processEvents();
        const QRect inside = f.frmDisk->contentsRect();
        QList<QWidget*> controls;
        for (const char* name :
             {"Drive1", "Command1", "Frame2", "Label9", "lblStatus2", "lbl1",    "lbl2",
              "lbl3",   "lbl4",     "lbl6",   "lbl7",   "lbl8",       "txt1",    "txt2",
              "txt3",   "txt4",     "txt6",   "txt7",   "txt8",       "Label10", "lblNotice"})
            controls << f.find<QWidget>(name);
        for (QWidget* control : controls) {
            const QRect r(control->mapTo(f.frmDisk, QPoint(0, 0)), control->size());
            QVERIFY2(inside.contains(r), qPrintable(control->objectName()));
            for (QWidget* other : controls) {
                if (other == control || other->isAncestorOf(control) ||
                    control->isAncestorOf(other))
                    continue;
                const QRect o(other->mapTo(f.frmDisk, QPoint(0, 0)), other->size());
                QVERIFY2(!r.intersects(o),
                         qPrintable(control->objectName() + " over " + other->objectName()));
            }
        }
        QLabel* note = f.find<QLabel>("Label10");
        QVERIFY(note->height() >= note->heightForWidth(note->width()));
        auto* cleaned = f.find<QLabel>("lblCleaned");
        QVERIFY(cleaned->height() >= 2 * cleaned->fontMetrics().lineSpacing());
        const QByteArray shot = qgetenv("OV_DISK_SCREENSHOT");
        if (!shot.isEmpty()) {
            f.find<QLabel>("lblLeft")->setText("1.50 GB (1,610,612,736 bytes)\nLeft to clean");
            f.find<QLabel>("lblCleaned")->setText("912 bytes\nCleaned");
            f.window.grab().save(QFile::decodeName(shot));
        }
    }
};

QTEST_MAIN(DiskPanelTest)
#include "DiskPanelTest.moc"
