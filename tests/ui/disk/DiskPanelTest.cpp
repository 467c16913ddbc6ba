// The Disk Cleaner panel, offscreen, on volumes made up by the test.
#include "ui/disk/DiskPanel.h"
#include "drive/FakeVolumes.h"
#include "ui/UiWorld.h"
#include "ui/main/MainLayout.h"

using namespace ov;
using namespace ov::test;

namespace {

// A window with the frame the main window gives the panel, on the volumes of the test.
struct Fixture : World
{
    Fixture(FakeVolumes& testVolumes, BlockingRunner* runLoop = nullptr)
        : panelContext{settings, store,       log,    runLoop ? *runLoop : loop,
                       dialogs,  testVolumes, opener, dir.path()}
    {
        frmDisk = new QGroupBox(QStringLiteral("Disk Cleaner "), &window);
        // The size the main window gives it.
        frmDisk->setGeometry(8, 8, layout::kPanelWidth, layout::kPanelHeight);
        window.resize(layout::kPanelWidth + 16, layout::kPanelHeight + 16);
        panel = new DiskPanel(frmDisk, panelContext, &window);
        window.show();
    }
    template <class T> T* find(const QByteArray& name) const
    {
        return frmDisk->findChild<T*>(QString::fromLatin1(name));
    }
    QString text(const QByteArray& box) const { return find<QLineEdit>(box)->text(); }
    QString label(const char* name) const { return find<QLabel>(name)->text(); }
    QComboBox* drives() const { return find<QComboBox>("Drive1"); }
    void pick(const QByteArray& mountPoint)
    {
        drives()->setCurrentIndex(drives()->findData(mountPoint));
        QCOMPARE(drives()->currentData().toByteArray(), mountPoint);
    }
    // The button that a click on the buttons' place reaches.
    QWidget* frontButton() const
    {
        QWidget* stack = find<QPushButton>("Command1")->parentWidget();
        return stack->childAt(stack->rect().center());
    }

    AppContext panelContext;
    QWidget window;
    QGroupBox* frmDisk = nullptr;
    DiskPanel* panel = nullptr;
};

} // namespace

class DiskPanelTest : public QObject
{
    Q_OBJECT

    FakeVolumes volumes;

private slots:
    void init()
    {
        volumes = FakeVolumes();
        auto& root = volumes.add("/", 1610612736, 1073741824);
        root.space->availableBytes = 536870912;
        root.facts->serialNumber = 0x1A2B;
        root.label = "SYSTEM";
    }

    void rowsOfAPresentDrive()
    {
        auto& packed = volumes.add("/packed/", 4096, 1024);
        packed.facts->flags = kVolumeIsCompressed;
        Fixture f(volumes);
        QCOMPARE(f.drives()->currentText(), QString("/ [SYSTEM]"));
        const std::tuple<int, const char*, const char*> rows[] = {
            {1, "Volume Serial Number:", "0000-1A2B"},
            {2, "Total Space:", "1.50 GB (1,610,612,736 bytes)"},
            {3, "Total Free Space:", "1.00 GB (1,073,741,824 bytes)"},
            {4, "Available Free Space:", "512 MB (536,870,912 bytes)"},
            {6, "File System Name:", "ext4"},
            {7, "Drive Type:", "Fixed"},
            {8, "Volume Compressed:", "False"}};
        for (auto [index, caption, value] : rows) {
            const QByteArray number = QByteArray::number(index);
            QCOMPARE(f.label("lbl" + number), QString(caption));
            QCOMPARE(f.text("txt" + number), QString(value));
            QVERIFY(f.find<QLineEdit>("txt" + number)->isReadOnly());
        }
        QVERIFY(!f.find<QLineEdit>("txt5"));
        QCOMPARE(f.label("lblNotice"), QString());
        // Picking resets the progress labels.
        f.find<QLabel>("lblCleaned")->setText("1.00 MB\nCleaned");
        f.pick("/packed");
        QCOMPARE(f.text("txt8"), QString("True"));
        QCOMPARE(f.text("txt1"), QString()); // no serial number
        QCOMPARE(f.label("lblCleaned"), QString("0 Cleaned"));
        QCOMPARE(f.label("lblLeft"), QString("0 Cleaned left to clean"));
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void notPresentNotices()
    {
        const std::tuple<int, const char*, const char*> rows[] = {
            {1, "No Root Directory", "[Drive Not Mapped]"},
            {2, "Removable", "[Disk Not Present]"},
            {5, "CD-ROM", "[Disc Not Present]"},
            {4, "Remote", ""}};
        for (auto [type, typeText, notice] : rows) {
            auto& empty = volumes.add("/media/empty/", 0, 0);
            empty.space.reset();
            empty.type = type;
            Fixture f(volumes);
            if (type == kDriveNoRootDir)
                volumes.volumes.erase("/media/empty/"); // gone since the list was read
            f.pick("/media/empty");
            for (const char* box : {"txt1", "txt2", "txt3", "txt4", "txt6", "txt8"})
                QCOMPARE(f.text(box), QString());
            QCOMPARE(f.text("txt7"), QString(typeText));
            QCOMPARE(f.label("lblNotice"), QString(notice));
            QVERIFY(f.dialogs.messages.isEmpty());
            f.pick("/");
            QCOMPARE(f.label("lblNotice"), QString());
        }
    }

    void theListIsReadAgainWhenItOpens()
    {
        Fixture f(volumes);
        volumes.add("/media/stick/", 4096, 1024).label = "STICK";
        f.drives()->showPopup();
        f.drives()->hidePopup();
        QVERIFY(f.drives()->findText("/media/stick [STICK]") >= 0);
        QCOMPARE(f.drives()->currentData().toByteArray(), QByteArray("/"));
    }

    void overflowsAreReportedWithTheirStep()
    {
        auto& big = volumes.add("/big/", std::uint64_t(1) << 62, 1024);
        Fixture f(volumes);
        // Through Drive: step 2, the pointer back to normal, the labels kept.
        f.find<QLabel>("lblCleaned")->setText("kept");
        f.pick("/big");
        QCOMPARE(f.dialogs.messages.size(), 1);
        QVERIFY(f.dialogs.messages[0].startsWith("Information|Ombrevault|" + errorReportText(2) +
                                                 "\n/big/"));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QVERIFY(f.window.cursor().shape() != Qt::WaitCursor); // the hourglass is gone
        QCOMPARE(f.label("lblCleaned"), QString("kept"));
        // Inside the rows (they read the space again): step 0, the handler goes on.
        big.space->totalBytes = 4096;
        int reads = 0;
        big.freeBytes = [&] { return ++reads == 1 ? 1024 : std::uint64_t(1) << 62; };
        f.pick("/");
        f.pick("/big");
        QCOMPARE(f.dialogs.messages.size(), 2);
        QVERIFY(f.dialogs.messages[1].startsWith("Information|Ombrevault|" + errorReportText(0)));
        QCOMPARE(f.label("lblCleaned"), QString("0 Cleaned"));
    }

    void runStopAndCloseThroughTheButtons()
    {
        TempDir dir;
        const QString tempFile = QFile::decodeName(dir.file("ovtempx.dat"));
        auto& volume = volumes.add(dir.path() + "/", 1LL << 40, 0);
        WorkerThreadRunner loop;
        Fixture f(volumes, &loop);
        QPushButton* start = f.find<QPushButton>("Command1");
        QPushButton* stop = f.find<QPushButton>("cmdStop");
        QCOMPARE(start->geometry(), stop->geometry());
        QCOMPARE(f.frontButton(), start);
        bool stopClicked = false;
        bool sawRunning = false;
        volume.freeBytes = [&] {
            if (QFileInfo(tempFile).size() > 0 && !stopClicked) {
                stopClicked = true;
                // Looked at and clicked from the event loop, as a user would.
                QTimer::singleShot(0, [&] {
                    sawRunning = f.panel->isRunning() && !f.drives()->isEnabled() &&
                                 f.frontButton() == stop && f.label("lblStatus2") == "Working...";
                    QTest::mouseClick(f.frontButton(), Qt::LeftButton);
                    // The start button is in front again but cannot start a second run.
                    QCOMPARE(f.frontButton(), start);
                    QVERIFY(!start->isEnabled());
                });
            }
            return std::uint64_t(1) << 36;
        };
        f.pick(dir.path());
        QSignalSpy finished(f.panel, &DiskPanel::runFinished);
        QTest::mouseClick(f.frontButton(), Qt::LeftButton);
        QCOMPARE(finished.count(), 1);
        QVERIFY(sawRunning);
        QVERIFY(!f.panel->isRunning());
        QCOMPARE(f.label("lblStatus2"), QString("Done"));
        QVERIFY(f.drives()->isEnabled() && start->isEnabled());
        QCOMPARE(f.frontButton(), start);
        QVERIFY(!QFile::exists(tempFile));
        QVERIFY(f.label("lblCleaned").endsWith("\nCleaned"));
        QVERIFY(f.dialogs.messages.isEmpty());

        // requestStop is how the window closes during a run.
        stopClicked = false;
        volume.freeBytes = [&] {
            if (!stopClicked)
                QTimer::singleShot(0, [&] { f.panel->requestStop(); });
            stopClicked = true;
            return std::uint64_t(1) << 36;
        };
        QTest::mouseClick(f.frontButton(), Qt::LeftButton);
        QCOMPARE(finished.count(), 2);
        QVERIFY(!QFile::exists(tempFile));
    }

    void theStatusAndTheNoticeSayHowTheRunEnded()
    {
        TempDir dir;
        const QByteArray filler = dir.file("ovtempx.dat");
        auto& volume = volumes.add(dir.path() + "/", 1LL << 40, 0);
        // A user's run on a volume with an administrator's reserve and a snapshot.
        volumes.administrator = false;
        volume.space->freeBytes = 3145728;
        volume.space->availableBytes = 0;
        volume.snapshots = {"/snap"};
        volume.freeBytes = [&] { return std::uint64_t(5000000 - QFileInfo(filler).size()); };
        Fixture f(volumes);
        f.pick(dir.path());
        QPushButton* start = f.find<QPushButton>("Command1");
        QTest::mouseClick(start, Qt::LeftButton);
        QCOMPARE(f.label("lblStatus2"), QString("Done"));
        const QString notice = f.label("lblNotice");
        QVERIFY2(notice.startsWith("Not reached: 3.00 MB (3,145,728 bytes) that the volume keeps "
                                   "back from users other than the administrator;"),
                 qPrintable(notice));
        QVERIFY(notice.contains("\nNot reached: files deleted since the snapshot /snap was taken"));

        // A run that fails says so once the panel is idle again, and tells nothing else.
        volume.freeBytes = [] { return std::uint64_t(1) << 62; };
        QTest::mouseClick(f.frontButton(), Qt::LeftButton);
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.label("lblStatus2"),
                 QString("Failed: Overflow: the volume reports more bytes than can be counted"));
        QCOMPARE(f.label("lblNotice"), QString());
        QVERIFY(f.drives()->isEnabled() && start->isEnabled());
        QCOMPARE(f.frontButton(), start);
        QVERIFY(!QFile::exists(QFile::decodeName(filler)));
    }
};

QTEST_MAIN(DiskPanelTest)
#include "DiskPanelTest.moc"
