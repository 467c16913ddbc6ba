#include "platform/Paths.h"
#include "support/LoopMount.h"
#include "ui/main/PendingList.h"
#include "ui/main/PictureBox.h"
#include "ui/main/WindowHarness.h"
#include "ui/main/cTooltip.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace ov;
using namespace ov::test;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

CommandLine argsOf(const QList<QByteArray>& args)
{
    std::vector<const char*> argv{"ombrevault"};
    for (const QByteArray& arg : args)
        argv.push_back(arg.constData());
    return commandLineText(int(argv.size()), argv.data());
}

std::vector<QByteArray> entries(const WindowHarness& h)
{
    return h.window->pendingList()->entries();
}

QString text(const WindowHarness& h, const char* label)
{
    return h.child<QLabel>(label)->text();
}

// Which panel the mouse would meet in the middle of the panels' rectangle.
QGroupBox* panelInFront(const WindowHarness& h)
{
    QWidget* central = h.window->centralWidget();
    QWidget* frmDisk = h.child<QGroupBox>("frmDisk");
    QWidget* hit = central->childAt(frmDisk->geometry().center());
    for (QWidget* w = hit; w; w = w->parentWidget()) {
        if (auto* box = qobject_cast<QGroupBox*>(w))
            return box;
    }
    return nullptr;
}

QMimeData* urlData(const QList<QUrl>& urls)
{
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

QUrl fileUrl(const QByteArray& path)
{
    return QUrl::fromLocalFile(QString::fromUtf8(path));
}

// Drags data over the list and drops it there, as the window system does; returns whether
// the drag was accepted with a copy.
bool dragAndDrop(WindowHarness& h, QMimeData* data)
{
    QWidget* viewport = h.window->pendingList()->viewport();
    const QPoint at = viewport->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    const bool accepted = enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    delete data;
    return accepted;
}

QList<QPushButton*> listCommands(const WindowHarness& h)
{
    return {h.child<QPushButton>("cmdAddFile"), h.child<QPushButton>("cmdAddFolder"),
            h.child<QPushButton>("cmdRemoveFile"), h.child<QPushButton>("cmdClearList"),
            h.child<QPushButton>("cmdDelete")};
}

void makeFiles(const WindowHarness& h, const QList<QByteArray>& names)
{
    for (const QByteArray& name : names)
        writeFile(h.dir.file(name), QByteArray(3000, 'x'));
}

} // namespace

class frmMainTest : public QObject
{
    Q_OBJECT

private slots:
    void startsWithTheDiskCleanerInFront();
    void startUpLoadsTheSettings();
    void commandLineBecomesOneEntry_data();
    void commandLineBecomesOneEntry();
    void panelCommandsFromEitherState();
    void addFileAddsWhatTheDialogReturns();
    void addFolderAddsTheListableFilesInNameOrder();
    void addFolderReportsAFolderItCannotRead();
    void removeAndClear();
    void dropsAddFilesAndRefuseFoldersAndText();
    void dropKeepsTheBytesOfANonUtf8Name();
    void scrollBarMeasuresTheWidestEntry();
    void deletionRunDestroysEveryFileAndCounts();
    void listCommandsAreDisabledDuringARun();
    void sixControlsShowTheirTips();
    void failureInTheMiddleKeepsTheRest();
    void immutableFileIsReported();
    void closingDuringARunStopsAfterTheFileInHand();
    void closingDuringAFreeSpaceRunWaitsForItsEnd();
    void timerTickMovesTheBand();
};

void frmMainTest::startsWithTheDiskCleanerInFront()
{
    WindowHarness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));

    QCOMPARE(h.window->windowTitle(), QStringLiteral("Ombrevault"));
    QVERIFY(!(h.window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(entries(h).empty());
    QCOMPARE(panelInFront(h), h.child<QGroupBox>("frmDisk"));
    QVERIFY(h.child<QGroupBox>("frmFile")->isVisible());
    QCOMPARE(h.child<QGroupBox>("frmDisk")->title(), QStringLiteral("Disk Cleaner "));
    QCOMPARE(h.child<QGroupBox>("frmFile")->title(), QStringLiteral("File Wiper"));

    auto* timer = h.child<QTimer>("Timer2");
    QCOMPARE(timer->interval(), 10);
    QVERIFY(!timer->isActive());
    QCOMPARE(text(h, "lblStatus"), QStringLiteral("Ready..."));
    QCOMPARE(text(h, "lblStatusStatic"), QStringLiteral("Status: "));
    for (const char* counter : {"Label4", "Label5", "Label6"})
        QCOMPARE(text(h, counter), QStringLiteral("0"));
    QCOMPARE(h.child<QPushButton>("cmdDelete")->text(), QStringLiteral("Ombrevault"));
    QVERIFY(h.child<QPushButton>("cmdDelete")->font().bold());

    // The menu, captions as they are.
    const QList<QPair<const char*, QString>> items{{"mnuViewLogs", " View Logs"},
                                                   {"mnuExit", " E&xit"},
                                                   {"mnuFileCleaner", " File Cleaner"},
                                                   {"mnuDiskCleaner", " Disk Cleaner"},
                                                   {"mnuOptions", " Options"},
                                                   {"mnuHelp1", " Help"},
                                                   {"mnuAbout", " About"}};
    for (const auto& [name, caption] : items)
        QCOMPARE(h.child<QAction>(name)->text(), caption);
    QStringList titles;
    for (QAction* menu : h.window->menuBar()->actions())
        titles << menu->text();
    QCOMPARE(titles, (QStringList{"File", "View", "Help"}));
    QVERIFY(h.child<QAction>("mnuBar")->isSeparator());

    // With no stored settings: logging and scrambling off, no level.
    QVERIFY(!h.settings.LogOperations);
    QVERIFY(!h.settings.ScrambleNames);
    QVERIFY(h.settings.SecurityLevel.isEmpty());

    // Every text of the File Cleaner fits its control.
    for (QLabel* label : h.child<QGroupBox>("frmFile")->findChildren<QLabel*>()) {
        if (!label->wordWrap() && label->pixmap().isNull())
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->objectName()));
    }
    for (QPushButton* button : listCommands(h))
        QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(button->objectName()));
    auto* advice = h.child<QLabel>("Label7");
    QVERIFY(advice->heightForWidth(advice->width()) <= advice->height());
}

void frmMainTest::startUpLoadsTheSettings()
{
    WindowHarness h({}, "[Software]\nTallowbrookworks\\Ombrevault4\\Log=1\n"
                        "Tallowbrookworks\\Ombrevault4\\Strenth=3\n"
                        "Tallowbrookworks\\Ombrevault4\\Scramble=1\n");
    QVERIFY(h.settings.LogOperations);
    QVERIFY(h.settings.ScrambleNames);
    QCOMPARE(h.settings.SecurityLevel, QStringLiteral("3"));
}

void frmMainTest::commandLineBecomesOneEntry_data()
{
    QTest::addColumn<QList<QByteArray>>("args");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::newRow("none") << QList<QByteArray>{} << QList<QByteArray>{};
    QTest::newRow("blanks trimmed")
        << QList<QByteArray>{"   /tmp/a file.txt  "} << QList<QByteArray>{"/tmp/a file.txt"};
    QTest::newRow("two paths, one entry")
        << QList<QByteArray>{"/tmp/a", "/tmp/b"} << QList<QByteArray>{"/tmp/a /tmp/b"};
    QTest::newRow("quotes kept") << QList<QByteArray>{"\"/tmp/x y\""}
                                 << QList<QByteArray>{"\"/tmp/x y\""};
    QTest::newRow("all blank") << QList<QByteArray>{"   "} << QList<QByteArray>{""};
    QTest::newRow("bytes kept") << QList<QByteArray>{"/tmp/\xff\xfe"}
                                << QList<QByteArray>{"/tmp/\xff\xfe"};
}

void frmMainTest::commandLineBecomesOneEntry()
{
    QFETCH(QList<QByteArray>, args);
    QFETCH(QList<QByteArray>, expected);
    WindowHarness h(argsOf(args));
    const std::vector<QByteArray> got = entries(h);
    QCOMPARE(QList<QByteArray>(got.begin(), got.end()), expected);
    // Without arguments start-up yields once instead.
    QCOMPARE(h.loop.yields, args.isEmpty() ? 1 : 0);
}

void frmMainTest::panelCommandsFromEitherState()
{
    WindowHarness h(argsOf({"/tmp/x"}));
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    auto* frmDisk = h.child<QGroupBox>("frmDisk");
    auto* frmFile = h.child<QGroupBox>("frmFile");

    h.window->mnuDiskCleaner_Click(); // right after start: nothing changes
    QCOMPARE(panelInFront(h), frmDisk);
    QVERIFY(frmFile->isVisible());

    h.child<QAction>("mnuFileCleaner")->trigger();
    QCOMPARE(panelInFront(h), frmFile);
    QVERIFY(frmDisk->isHidden());

    h.child<QAction>("mnuFileCleaner")->trigger(); // again from the File Cleaner
    QCOMPARE(panelInFront(h), frmFile);
    QVERIFY(frmDisk->isHidden());

    h.child<QAction>("mnuDiskCleaner")->trigger();
    QCOMPARE(panelInFront(h), frmDisk);
    QVERIFY(frmDisk->isVisible());
    QVERIFY(frmFile->isVisible()); // stays visible behind

    // Nothing of the list or the window changes with the panels.
    QCOMPARE(entries(h).size(), size_t(1));
    QCOMPARE(h.window->windowTitle(), QStringLiteral("Ombrevault"));
}

void frmMainTest::addFileAddsWhatTheDialogReturns()
{
    WindowHarness h;
    const QByteArray longPath = "/tmp/" + QByteArray(300, 'n') + ".txt";
    h.dialogs.fileAnswers = {QByteArray("/tmp/one.txt"), QByteArray("/tmp/one.txt"), longPath};
    for (int i = 0; i < 3; ++i)
        h.child<QPushButton>("cmdAddFile")->click();
    QCOMPARE(h.dialogs.openTitle, QStringLiteral("Select File"));
    QCOMPARE(h.dialogs.openFilter, QStringLiteral("All Files (*)"));
    QCOMPARE(h.dialogs.openStart, programFolder());
    // Twice the same file: two entries; a path past the old 254-character limit is kept.
    QCOMPARE(entries(h), (std::vector<QByteArray>{"/tmp/one.txt", "/tmp/one.txt", longPath}));
    const int longExtent = h.window->horizontalExtent();

    // Cancel adds nothing, yields once and brings the extent up to date.
    h.child<QPushButton>("cmdClearList")->click();
    QCOMPARE(h.window->horizontalExtent(), longExtent); // clearing keeps it
    const int yields = h.loop.yields;
    h.child<QPushButton>("cmdAddFile")->click();
    QVERIFY(entries(h).empty());
    QCOMPARE(h.loop.yields, yields + 1);
    QCOMPARE(h.window->horizontalExtent(), 0);
}

void frmMainTest::addFolderAddsTheListableFilesInNameOrder()
{
    WindowHarness h;
    const QByteArray folder = h.dir.file("folder");
    QVERIFY(QDir().mkpath(QString::fromUtf8(folder + "/sub")));
    writeFile(folder + "/b.txt", "b");
    writeFile(folder + "/A.txt", "a");
    writeFile(folder + "/sub/inner.txt", "i");
    writeFile(folder + "/.hidden", "h");
    QCOMPARE(::symlink("b.txt", (folder + "/link").constData()), 0);
    QCOMPARE(::mkfifo((folder + "/fifo").constData(), 0600), 0);

    h.dialogs.fileAnswers = {QByteArray("/tmp/short")};
    h.child<QPushButton>("cmdAddFile")->click();
    const int extentBefore = h.window->horizontalExtent();

    h.dialogs.folderAnswers = {folder, folder + "/"};
    h.child<QPushButton>("cmdAddFolder")->click();
    QCOMPARE(h.dialogs.folderTitle, QStringLiteral("Select the directory you wish to ombrevault."));
    QCOMPARE(entries(h),
             (std::vector<QByteArray>{"/tmp/short", folder + "/A.txt", folder + "/b.txt"}));
    // Measured before the folder's files came in.
    QCOMPARE(h.window->horizontalExtent(), extentBefore);

    // A folder path that ends with "/" gets no second one.
    h.child<QPushButton>("cmdAddFolder")->click();
    QCOMPARE(entries(h).back(), folder + "/b.txt");
    QCOMPARE(entries(h).size(), size_t(5));
    QVERIFY(h.window->horizontalExtent() > extentBefore); // now the long entries count

    // Cancel: nothing added, the extent untouched.
    const int extent = h.window->horizontalExtent();
    h.child<QPushButton>("cmdAddFolder")->click();
    QCOMPARE(entries(h).size(), size_t(5));
    QCOMPARE(h.window->horizontalExtent(), extent);
    QVERIFY(h.dialogs.messages.empty());
}

void frmMainTest::addFolderReportsAFolderItCannotRead()
{
    WindowHarness h;
    const QByteArray gone = h.dir.file("gone");
    h.dialogs.folderAnswers = {gone};
    h.child<QPushButton>("cmdAddFolder")->click();
    QVERIFY(entries(h).empty());
    QCOMPARE(h.dialogs.messages.size(), size_t(1));
    QVERIFY(h.dialogs.messages[0].text.contains(QString::fromUtf8(gone)));
    QVERIFY(h.dialogs.messages[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
}

void frmMainTest::removeAndClear()
{
    WindowHarness h(argsOf({"  "}));
    auto* list = h.window->pendingList();
    list->appendEntry("/tmp/a");
    list->appendEntry("/tmp/b");
    auto* remove = h.child<QPushButton>("cmdRemoveFile");

    remove->click(); // nothing selected
    QCOMPARE(list->count(), 3);

    list->setCurrentRow(2);
    remove->click();
    QCOMPARE(entries(h), (std::vector<QByteArray>{"", "/tmp/a"}));
    QVERIFY(list->selectedItems().isEmpty());

    list->setCurrentRow(0); // the empty entry of an all-blank command line stays
    remove->click();
    QCOMPARE(list->count(), 2);

    h.child<QPushButton>("cmdClearList")->click();
    QCOMPARE(list->count(), 0);
}

void frmMainTest::dropsAddFilesAndRefuseFoldersAndText()
{
    WindowHarness h;
    makeFiles(h, {"one", "two"});
    QVERIFY(QDir().mkpath(QString::fromUtf8(h.dir.file("dir"))));

    QVERIFY(dragAndDrop(h, urlData({fileUrl(h.dir.file("one")), fileUrl(h.dir.file("dir")),
                                    fileUrl(h.dir.file("two")), fileUrl(h.dir.file("dir"))})));
    QCOMPARE(entries(h), (std::vector<QByteArray>{h.dir.file("one"), h.dir.file("two")}));
    QCOMPARE(h.dialogs.messages.size(), size_t(2)); // once per folder
    for (const auto& message : h.dialogs.messages) {
        QCOMPARE(message.text, QStringLiteral("Can not drag and drop a whole directory."));
        QCOMPARE(message.title, QStringLiteral("Ombrevault"));
        QCOMPARE(message.icon, Dialogs::Icon::Information);
    }
    // Dropping does not measure the list again.
    QCOMPARE(h.window->horizontalExtent(), 0);

    auto* textOnly = new QMimeData;
    textOnly->setText(QString::fromUtf8(h.dir.file("one")));
    QVERIFY(!dragAndDrop(h, textOnly));
    QVERIFY(!dragAndDrop(h, urlData({QUrl("https://example.org/file.txt")})));
    QVERIFY(!dragAndDrop(h, urlData({fileUrl(h.dir.file("one")), QUrl("sftp://host/x")})));
    QCOMPARE(entries(h).size(), size_t(2));
}

void frmMainTest::dropKeepsTheBytesOfANonUtf8Name()
{
    WindowHarness h;
    const QByteArray name = h.dir.file("caf\xe9.txt"); // Latin-1, not UTF-8
    writeFile(name, "x");
    QUrl url(QStringLiteral("file://") + QString::fromLatin1(h.dir.path()) +
                 QStringLiteral("/caf%E9.txt"),
             QUrl::StrictMode);
    QVERIFY(dragAndDrop(h, urlData({url})));
    QCOMPARE(entries(h), std::vector<QByteArray>{name});
    QVERIFY(h.window->pendingList()->item(0)->text().contains(QChar::ReplacementCharacter));
    ::unlink(name.constData()); // the temporary folder cannot remove it by its text name
}

void frmMainTest::scrollBarMeasuresTheWidestEntry()
{
    WindowHarness h;
    QCOMPARE(h.window->ScrollBar(), 0);
    auto* list = h.window->pendingList();
    const QString longer = QStringLiteral("/tmp/") + QString(120, QLatin1Char('w'));
    list->appendEntry("/tmp/i");
    list->appendEntry(longer.toUtf8());
    list->appendEntry("/tmp/iii");
    const int scrollBar = h.window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    QCOMPARE(h.window->ScrollBar(),
             QFontMetrics(h.window->font()).horizontalAdvance(longer) + scrollBar);
    QVERIFY(h.window->horizontalExtent() > list->viewport()->width());
}

void frmMainTest::deletionRunDestroysEveryFileAndCounts()
{
    WindowHarness h;
    h.settings.SecurityLevel = QStringLiteral("1");
    h.settings.LogOperations = true;
    makeFiles(h, {"a", "b", "c", "d", "e"});
    auto* list = h.window->pendingList();
    for (const char* name : {"a", "b", "c", "d", "e", "a"})
        list->appendEntry(h.dir.file(name));

    QStringList statuses;
    h.loop.onYield = [&] {
        const QString status = text(h, "lblStatus");
        if (statuses.isEmpty() || statuses.last() != status)
            statuses << status;
    };
    h.child<QPushButton>("cmdDelete")->click();

    for (const char* name : {"a", "b", "c", "d", "e"})
        QVERIFY(!exists(h.dir.file(name)));
    QCOMPARE(list->count(), 0);
    QCOMPARE(text(h, "Label4"), QStringLiteral("5"));
    QCOMPARE(text(h, "Label5"), QStringLiteral("5"));
    QCOMPARE(text(h, "Label6"), QStringLiteral("0"));
    QCOMPARE(text(h, "lblStatus"), QStringLiteral("Done"));
    QVERIFY(statuses.contains(QStringLiteral("Preparing and checking for duplicate entries.")));
    QVERIFY(statuses.contains(QStringLiteral("1 Duplicate entries found and removed")));
    QVERIFY(statuses.contains(QStringLiteral(" Working..")));
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!h.child<QTimer>("Timer2")->isActive());

    const QList<QByteArray> lines = readFile(h.log->path()).split('\n');
    QCOMPARE(lines.size(), 6); // five lines and the end
    QVERIFY(lines[0].trimmed().endsWith(h.dir.file("b") + " Deleted via ratio 1"));

    // Nothing on the list: pressing the button changes nothing.
    h.window->setStatus(QStringLiteral("kept"));
    h.child<QPushButton>("cmdDelete")->click();
    QCOMPARE(text(h, "lblStatus"), QStringLiteral("kept"));
    QCOMPARE(text(h, "Label4"), QStringLiteral("5"));
    QVERIFY(!h.child<QTimer>("Timer2")->isActive());
}

void frmMainTest::listCommandsAreDisabledDuringARun()
{
    WindowHarness h;
    h.settings.SecurityLevel = QStringLiteral("1");
    makeFiles(h, {"a", "b"});
    h.window->pendingList()->appendEntry(h.dir.file("a"));
    h.window->pendingList()->appendEntry(h.dir.file("b"));
    makeFiles(h, {"dropped"});

    int checks = 0;
    h.loop.onYield = [&] {
        if (!h.window->deletionRunning())
            return;
        ++checks;
        for (QPushButton* button : listCommands(h))
            QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
        std::unique_ptr<QMimeData> drag(urlData({fileUrl(h.dir.file("dropped"))}));
        QVERIFY(!h.window->List1_OLEDragOver(drag.get()));
        h.window->List1_OLEDragDrop(drag.get());
        h.window->cmdDelete_Click(); // no second run inside the first
        QVERIFY(h.child<QAction>("mnuFileCleaner")->isEnabled());
        QVERIFY(h.child<QTimer>("Timer2")->isActive());
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    };
    h.window->cmdDelete_Click();
    QVERIFY(checks > 0);
    QCOMPARE(h.window->pendingList()->count(), 0); // the refused drop added nothing
    QCOMPARE(text(h, "Label5"), QStringLiteral("2"));
    QVERIFY(exists(h.dir.file("dropped")));
    for (QPushButton* button : listCommands(h))
        QVERIFY(button->isEnabled());
    QVERIFY(dragAndDrop(h, urlData({fileUrl(h.dir.file("dropped"))}))); // drops again
    QCOMPARE(entries(h), std::vector<QByteArray>{h.dir.file("dropped")});
}

void frmMainTest::sixControlsShowTheirTips()
{
    WindowHarness h;
    h.window->show();
    h.window->mnuFileCleaner_Click();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    cTooltip& tips = h.window->tooltip();
    QCOMPARE(tips.MaxWidth(), 400);
    QCOMPARE(tips.VisibleTime(), 2000);
    QCOMPARE(tips.DelayTime(), 400);
    int quick = 1;
    tips.setDelayTime(quick);
    const QList<QPair<const char*, QString>> expected{
        {"List1", "Files which are pending deletion."},
        {"cmdAddFolder", "Add all files in a folder to the list of files to be deleted."},
        {"cmdAddFile", "Add 1 file to to the list of files to be deleted."},
        {"cmdClearList", "Clear all items on the list."},
        {"cmdRemoveFile", "Remove one selected file from the list."},
        {"cmdDelete", "Delete all of the selected files."}};
    for (const auto& [name, tip] : expected) {
        QWidget* control = h.child<QWidget>(name);
        QTest::mouseMove(control, control->rect().center());
        QTRY_COMPARE(tips.shownText(), tip);
    }
    QTest::mouseMove(h.child<QWidget>("Label7"));
    QVERIFY(tips.shownText().isEmpty());
}

void frmMainTest::failureInTheMiddleKeepsTheRest()
{
    WindowHarness h;
    h.settings.SecurityLevel = QStringLiteral("1"); // the least level refuses a missing file
    makeFiles(h, {"a", "c"});
    const QByteArray missing = h.dir.file("missing");
    for (const QByteArray& path : {h.dir.file("a"), missing, h.dir.file("c")})
        h.window->pendingList()->appendEntry(path);

    h.window->cmdDelete_Click();

    QVERIFY(!exists(h.dir.file("a")));
    QVERIFY(exists(h.dir.file("c")));
    QCOMPARE(entries(h), (std::vector<QByteArray>{missing, h.dir.file("c")}));
    QCOMPARE(text(h, "Label5"), QStringLiteral("1"));
    QCOMPARE(text(h, "Label6"), QStringLiteral("2"));
    QVERIFY(text(h, "lblStatus").startsWith(QStringLiteral("Failed: ")));
    QVERIFY(text(h, "lblStatus").contains(QString::fromUtf8(missing)));
    QCOMPARE(h.dialogs.messages.size(), size_t(1));
    const auto& report = h.dialogs.messages[0];
    QCOMPARE(report.icon, Dialogs::Icon::Stop);
    QCOMPARE(report.title, QStringLiteral("Ombrevault"));
    QVERIFY(report.text.contains(QString::fromUtf8(missing)));
    QVERIFY(report.text.contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!h.child<QTimer>("Timer2")->isActive());
    for (QPushButton* button : listCommands(h))
        QVERIFY(button->isEnabled());
}

void frmMainTest::immutableFileIsReported()
{
    if (!runningAsRoot())
        QSKIP("needs root to make a file immutable");
    WindowHarness h;
    h.settings.SecurityLevel = QStringLiteral("2");
    makeFiles(h, {"locked", "free"});
    const QByteArray locked = h.dir.file("locked");
    if (QProcess::execute(QStringLiteral("chattr"), {"+i", QString::fromUtf8(locked)}) != 0)
        QSKIP("the file system of the temporary folder has no immutable files");
    struct Unlock
    {
        QByteArray path;
        ~Unlock() { QProcess::execute(QStringLiteral("chattr"), {"-i", QString::fromUtf8(path)}); }
    } unlock{locked};

    h.window->pendingList()->appendEntry(locked);
    h.window->pendingList()->appendEntry(h.dir.file("free"));
    h.window->cmdDelete_Click();

    QVERIFY(exists(locked));
    QVERIFY(exists(h.dir.file("free")));
    QCOMPARE(entries(h), (std::vector<QByteArray>{locked, h.dir.file("free")}));
    QCOMPARE(h.dialogs.messages.size(), size_t(1));
    QVERIFY(h.dialogs.messages[0].text.contains(QString::fromUtf8(locked)));
    QVERIFY(h.dialogs.messages[0].text.contains(QString::fromLocal8Bit(std::strerror(EPERM))));
    QCOMPARE(text(h, "Label5"), QStringLiteral("0"));
}

void frmMainTest::closingDuringARunStopsAfterTheFileInHand()
{
    WindowHarness h;
    h.settings.SecurityLevel = QStringLiteral("1");
    makeFiles(h, {"a", "b", "c"});
    for (const char* name : {"a", "b", "c"})
        h.window->pendingList()->appendEntry(h.dir.file(name));
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));

    bool asked = false;
    bool stillOpen = false;
    h.loop.onYield = [&] {
        if (!asked && text(h, "Label5") == QLatin1String("1")) {
            asked = true;
            h.child<QAction>("mnuExit")->trigger();
            stillOpen = h.window->isVisible();
        }
    };
    h.window->cmdDelete_Click();

    QVERIFY(asked);
    QVERIFY(stillOpen);              // not closed in the middle of the run
    QVERIFY(!h.window->isVisible()); // closed once it returned
    QVERIFY(!exists(h.dir.file("a")));
    QVERIFY(exists(h.dir.file("b"))); // nothing after the file in hand
    QVERIFY(exists(h.dir.file("c")));
    QCOMPARE(entries(h), (std::vector<QByteArray>{h.dir.file("b"), h.dir.file("c")}));
    QVERIFY(text(h, "lblStatus").startsWith(QStringLiteral("Stopped")));
    QCOMPARE(text(h, "Label5"), QStringLiteral("1"));
    QVERIFY(!h.window->tooltip().tipWindow());
    QVERIFY(!QApplication::overrideCursor());

    // Without a run the window closes at once.
    WindowHarness idle;
    idle.window->show();
    QVERIFY(idle.window->close());
    QVERIFY(!idle.window->isVisible());
}

void frmMainTest::closingDuringAFreeSpaceRunWaitsForItsEnd()
{
    QString whyNot;
    auto volume = LoopMount::create(QStringLiteral("ext4"), 24 << 20, &whyNot);
    if (!volume)
        QSKIP(qPrintable(whyNot));
    WindowHarness h;
    auto* drives = h.child<QComboBox>("Drive1");
    QVERIFY(drives);
    const int index = drives->findData(volume->mountPoint());
    QVERIFY(index >= 0);
    drives->setCurrentIndex(index);
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));

    bool asked = false;
    bool stillOpen = false;
    h.loop.onYield = [&] {
        if (!asked && exists(volume->mountPoint() + "/ovtempx.dat")) {
            asked = true;
            h.window->close(); // the close box
            stillOpen = h.window->isVisible();
        }
    };
    h.child<QPushButton>("Command1")->click();

    QVERIFY(asked);
    QVERIFY(stillOpen);
    QVERIFY(!h.window->isVisible());
    QVERIFY(!exists(volume->mountPoint() + "/ovtempx.dat")); // the run cleaned up first
    QVERIFY(!QApplication::overrideCursor());
}

void frmMainTest::timerTickMovesTheBand()
{
    WindowHarness h;
    auto* band = h.window->findChild<PictureBox*>(QStringLiteral("picGrad"));
    QVERIFY(band);
    // The band is narrower than its 347-pixel picture, so the band is full.
    QVERIFY(band->innerWidth() < 347);
    QCOMPARE(band->image().height(), 15);
    const QImage before = band->image().toImage();
    const int yields = h.loop.yields;
    h.window->Timer2_Timer();
    QCOMPARE(h.loop.yields, yields + 1);
    const QImage after = band->image().toImage();
    const int w = band->innerWidth();
    for (int x = 0; x < w; ++x)
        QCOMPARE(after.pixel(x, 7), before.pixel((x - 5 + w) % w, 7));
}

QTEST_MAIN(frmMainTest)
#include "frmMainTest.moc"
