// The File Cleaner panel in its window: the list's commands, drops and the deletion run.
#include "platform/Paths.h"
#include "support/Tmpfs.h"
#include "ui/MainHarness.h"
#include "wipe/DeletionRun.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

using namespace ov;
using namespace ov::test;

namespace {

QMimeData* urls(const QList<QByteArray>& paths, const QList<QUrl>& more = {})
{
    auto* data = new QMimeData;
    QList<QUrl> list;
    for (const QByteArray& path : paths)
        list << QUrl::fromLocalFile(QString::fromUtf8(path));
    data->setUrls(list + more);
    return data;
}

// Drags data over the list and drops it, as the window system does; whether the drag was
// accepted with a copy.
bool dragAndDrop(Harness& h, QMimeData* data)
{
    const std::unique_ptr<QMimeData> owned(data);
    QWidget* viewport = h.window->pendingList()->viewport();
    const QPoint at = viewport->rect().center();
    const auto actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDropEvent drop(QPointF(at), actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
}

// Whether a report names the path and the system's reason.
bool names(const QString& report, const QByteArray& path, int error)
{
    return report.contains(QString::fromUtf8(path)) &&
           report.contains(QString::fromLocal8Bit(std::strerror(error)));
}

// The notice a run of files in the folder ends with: ext4, xfs and btrfs keep copies of
// deleted names; elsewhere (a tmpfs) there is none.
QStringList namesNoticeFor(const QByteArray& folder)
{
    struct statfs facts = {};
    if (::statfs(folder.constData(), &facts) != 0)
        return {QStringLiteral("(cannot tell)")};
    const auto type = static_cast<unsigned long>(facts.f_type);
    if (type == EXT4_SUPER_MAGIC || type == XFS_SUPER_MAGIC || type == BTRFS_SUPER_MAGIC)
        return {namesMayRemainNotice()};
    return {};
}

} // namespace

class FilePanelTest : public QObject
{
    Q_OBJECT

private slots:
    void addFileAndTheExtent()
    {
        Harness h;
        QCOMPARE(h.window->ScrollBar(), 0);
        const QByteArray longPath = "/tmp/" + QByteArray(300, 'w'); // past the old 254 limit
        h.dialogs.files = {"/tmp/i", "/tmp/i", longPath};
        for (int i = 0; i < 3; ++i)
            h.child<QPushButton>("cmdAddFile")->click();
        QCOMPARE(h.dialogs.asked.mid(0, 3),
                 (QStringList{"Select File", QString::fromUtf8(programFolder()), "All Files (*)"}));
        QCOMPARE(h.entries(), (Paths{"/tmp/i", "/tmp/i", longPath}));
        // The widest entry in the window's font plus a vertical scroll bar.
        const int bar = h.window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                       h.window->pendingList());
        QCOMPARE(h.window->horizontalExtent(),
                 QFontMetrics(h.window->font()).horizontalAdvance(longPath) + bar);

        // Cancel adds nothing and brings the extent up to date with the cleared list.
        h.child<QPushButton>("cmdClearList")->click();
        QVERIFY(h.window->horizontalExtent() > 0);
        h.child<QPushButton>("cmdAddFile")->click();
        QVERIFY(h.entries().empty());
        QCOMPARE(h.window->horizontalExtent(), 0);
    }

    // Entries that came without a recomputation of the extent (a drop, a folder) can be
    // scrolled to their end all the same, whichever of them is the widest.
    void aLongFirstEntryCanBeScrolledToItsEnd()
    {
        Harness h;
        QVERIFY(h.show());
        h.window->mnuFileCleaner_Click();
        const QByteArray longName = h.dir.file(QByteArray(180, 'n') + ".txt");
        for (const QByteArray& path : {longName, h.dir.file("b"), h.dir.file("c")})
            writeFile(path, "x");
        QVERIFY(dragAndDrop(h, urls({longName, h.dir.file("b"), h.dir.file("c")})));
        PendingList* list = h.window->pendingList();
        QScrollBar* bar = list->horizontalScrollBar();
        QCOMPARE(h.window->horizontalExtent(), 0); // the drop did not recompute it
        const int textWidth = list->fontMetrics().horizontalAdvance(list->item(0)->text());
        QTRY_VERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        const QRect first = list->visualItemRect(list->item(0));
        QVERIFY2(first.width() >= textWidth && first.right() <= list->viewport()->width(),
                 qPrintable(QStringLiteral("%1 wide, ends at %2 of %3")
                                .arg(first.width())
                                .arg(first.right())
                                .arg(list->viewport()->width())));
        // The extent Add File computes stays after the list is cleared, until the next one.
        h.child<QPushButton>("cmdAddFile")->click(); // cancelled
        QVERIFY(h.window->horizontalExtent() > list->viewport()->width());
        h.child<QPushButton>("cmdClearList")->click();
        list->doItemsLayout(); // laid out now, not at the next turn of the event loop
        QVERIFY(bar->maximum() > 0);
        h.child<QPushButton>("cmdAddFile")->click();
        list->doItemsLayout();
        QCOMPARE(bar->maximum(), 0);
    }

    void addFolder()
    {
        Harness h;
        const QByteArray folder = h.dir.file("folder"), gone = h.dir.file("gone");
        QVERIFY(QDir().mkpath(QString::fromUtf8(folder + "/sub")));
        for (const char* name : {"/b.txt", "/A.txt", "/sub/inner.txt", "/.hidden"})
            writeFile(folder + name, "x");
        QCOMPARE(::symlink("b.txt", (folder + "/link").constData()), 0);
        QCOMPARE(::mkfifo((folder + "/fifo").constData(), 0600), 0);

        // Regular, not hidden, directly in the folder, by name; one "/" between; Cancel.
        h.dialogs.folders = {folder, folder + "/", {}, gone};
        for (int i = 0; i < 3; ++i)
            h.child<QPushButton>("cmdAddFolder")->click();
        QCOMPARE(h.dialogs.asked.first(),
                 QStringLiteral("Select the directory you wish to ombrevault."));
        const QByteArray a = folder + "/A.txt", b = folder + "/b.txt";
        QCOMPARE(h.entries(), (Paths{a, b, a, b}));
        QVERIFY(h.dialogs.messages.isEmpty());

        h.child<QPushButton>("cmdAddFolder")->click(); // a folder that cannot be read
        QCOMPARE(h.entries().size(), size_t(4));
        QCOMPARE(h.dialogs.messages.size(), 1);
        QVERIFY(names(h.dialogs.messages[0], gone, ENOENT));
    }

    void removeAndClear()
    {
        Harness h({"  "}); // an all-blank command line gives an empty entry, which stays
        h.addFiles({"a", "b"}, false);
        auto* list = h.window->pendingList();
        auto* remove = h.child<QPushButton>("cmdRemoveFile");
        remove->click(); // nothing selected
        QCOMPARE(list->count(), 3);
        list->setCurrentRow(2);
        remove->click();
        QCOMPARE(h.entries(), (Paths{"", h.dir.file("a")}));
        QVERIFY(list->selectedItems().isEmpty());
        list->setCurrentRow(0);
        remove->click();
        QCOMPARE(list->count(), 2);
        h.child<QPushButton>("cmdClearList")->click();
        QCOMPARE(list->count(), 0);
    }

    void drops()
    {
        Harness h;
        const QByteArray one = h.dir.file("one"), dir = h.dir.file("dir");
        writeFile(one, "1");
        QVERIFY(QDir().mkpath(QString::fromUtf8(dir)));
        QVERIFY(dragAndDrop(h, urls({one, dir, one, dir})));
        QCOMPARE(h.entries(), (Paths{one, one}));
        QCOMPARE(h.dialogs.messages,
                 QStringList(2, "Information|Ombrevault|Can not drag and drop a whole directory."));

        auto* text = new QMimeData;
        text->setText(QString::fromUtf8(one));
        QVERIFY(!dragAndDrop(h, text));
        QVERIFY(!dragAndDrop(h, urls({one}, {QUrl("sftp://host/x")})));
        QCOMPARE(h.entries().size(), size_t(2));
    }

    void deletionRun()
    {
        Harness h;
        h.settings.SecurityLevel = QStringLiteral("1");
        h.settings.LogOperations = true;
        h.addFiles({"a", "b", "c", "d"});
        // A Latin-1 name, not UTF-8: shown with a replacement character, wiped as its bytes.
        const QByteArray latin = h.dir.file("caf\xe9");
        writeFile(latin, "x");
        const QUrl url("file://" + QString::fromUtf8(h.dir.path()) + "/caf%E9", QUrl::StrictMode);
        QVERIFY(dragAndDrop(h, urls({}, {url})));
        QVERIFY(h.window->pendingList()->item(4)->text().contains(QChar::ReplacementCharacter));
        h.addFiles({"a"}, false);
        const QByteArray dropped = h.dir.file("dropped");
        writeFile(dropped, "d");

        QStringList statuses;
        int checks = 0;
        h.loop.onYield = [&] {
            if (statuses.value(statuses.size() - 1) != h.text("lblStatus"))
                statuses << h.text("lblStatus");
            if (!h.window->deletionRunning())
                return;
            ++checks; // the list and the delete button are closed, menus and panels open
            for (QPushButton* button : h.listCommands())
                QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
            const std::unique_ptr<QMimeData> drag(urls({dropped}));
            QVERIFY(!h.window->List1_OLEDragOver(drag.get()));
            h.window->List1_OLEDragDrop(drag.get());
            h.window->cmdDelete_Click(); // no second run inside the first
            QVERIFY(h.child<QAction>("mnuFileCleaner")->isEnabled());
            QVERIFY(h.child<QTimer>("Timer2")->isActive());
            QVERIFY(h.busy());
            QVERIFY(!QApplication::overrideCursor()); // the other windows keep theirs
        };
        h.child<QPushButton>("cmdDelete")->click();

        QVERIFY(checks > 0);
        for (const char* name : {"a", "b", "c", "d", "caf\xe9"})
            QVERIFY2(!exists(h.dir.file(name)), name);
        QVERIFY(h.entries().empty()); // the refused drop added nothing
        QCOMPARE(h.counters(), (QStringList{"5", "5", "0"}));
        QCOMPARE(statuses << h.text("lblStatus"),
                 (QStringList{"Preparing and checking for duplicate entries.",
                              "1 Duplicate entries found and removed", " Working..", "Done"}));
        QVERIFY(h.idle());
        const QList<QByteArray> lines = readFile(h.log.path()).split('\n');
        QCOMPARE(lines.size(), 6); // five lines and the end
        QVERIFY(lines[0].trimmed().endsWith(h.dir.file("b") + " Deleted via ratio 1"));
        QVERIFY(dragAndDrop(h, urls({dropped}))); // drops are accepted again
        QCOMPARE(h.entries(), Paths{dropped});
    }

    // What the user must know after a run comes in one information box from the window.
    void noticesAfterARunInOneBox()
    {
        Harness h;
        h.settings.SecurityLevel = QStringLiteral("2");
        h.addFiles({"a", "b"});
        QCOMPARE(::link(h.dir.file("a").constData(), h.dir.file("a2").constData()), 0);
        QCOMPARE(::link(h.dir.file("b").constData(), h.dir.file("b2").constData()), 0);
        QCOMPARE(::link(h.dir.file("b").constData(), h.dir.file("b3").constData()), 0);
        h.window->cmdDelete_Click();
        QVERIFY(!exists(h.dir.file("a")) && !exists(h.dir.file("b")));
        QCOMPARE(h.dialogs.messages,
                 QStringList{"Information|Ombrevault|" +
                             (QStringList{otherNamesNotice(h.dir.file("a"), 1),
                                          otherNamesNotice(h.dir.file("b"), 2)} +
                              namesNoticeFor(h.dir.path()))
                                 .join('\n')});
        QVERIFY(h.idle());
    }

    // Where the file system keeps copies of deleted names, the box after a run says so and
    // what removes them; a volume in memory keeps none.
    void namesThatMayRemainAreTold()
    {
        QString why;
        auto ext4 = LoopMount::create(QStringLiteral("ext4"), 32 << 20, &why);
        if (!ext4)
            QSKIP(qPrintable(why));
        Tmpfs tmpfs(1 << 20);
        QVERIFY(tmpfs.mounted());
        for (const QByteArray& place : {ext4->mountPoint(), tmpfs.mountPoint()}) {
            Harness h;
            h.settings.SecurityLevel = QStringLiteral("2");
            for (const char* name : {"/a", "/b"}) {
                writeFile(place + name, QByteArray(3000, 'x'));
                h.window->pendingList()->appendEntry(place + name);
            }
            h.window->cmdDelete_Click();
            QVERIFY(!exists(place + "/a") && !exists(place + "/b"));
            QCOMPARE(h.dialogs.messages,
                     place == ext4->mountPoint()
                         ? QStringList{"Information|Ombrevault|" + namesMayRemainNotice()}
                         : QStringList{});
            QVERIFY(h.idle());
        }
    }

    // A file whose old data the overwrite could not reach (btrfs writes elsewhere) is
    // deleted, counted as deleted, and told in the box after the run; the log gains a line
    // saying it was not destroyed, as it does for a file whose wipe failed.
    void whatTheOverwriteCouldNotReachIsTold()
    {
        QString why;
        auto btrfs = LoopMount::create(QStringLiteral("btrfs"), 256 << 20, &why);
        if (!btrfs)
            QSKIP(qPrintable(why));
        Harness h;
        // File by file (the least level's batch takes the files in hand together).
        h.settings.SecurityLevel = QStringLiteral("3");
        h.settings.LogOperations = true;
        const QByteArray moved = btrfs->mountPoint() + "/moved";
        writeFile(moved, QByteArray(256 << 10, 'm'));
        h.window->pendingList()->appendEntry(moved);
        h.addFiles({"missing"});
        const QByteArray missing = h.dir.file("missing");
        // It goes once the run is under way (the first file overwritten; its delete waits
        // for the others').
        h.loop.onYield = [&] {
            if (exists(missing) &&
                (!exists(moved) || readFile(moved) != QByteArray(256 << 10, 'm')))
                QFile::remove(QString::fromUtf8(missing));
        };
        h.window->cmdDelete_Click();
        QVERIFY(!exists(moved));
        QCOMPARE(h.counters(), (QStringList{"2", "1", "1"}));
        QCOMPARE(h.dialogs.messages.size(), 2);
        QVERIFY(h.dialogs.messages[0].startsWith("Stop|Ombrevault|"));
        const QString box = h.dialogs.messages[1];
        QVERIFY2(box.startsWith(QStringLiteral("Exclamation|Ombrevault|Deleted, but the old data "
                                               "is still on the device:\n") +
                                QString::fromUtf8(moved) + QStringLiteral(": not reached (moved)")),
                 qPrintable(box));
        // Each file's second line after its first (a file's count, and so its second line,
        // waits for the deletes of the files after it).
        const QList<QByteArray> lines = readFile(h.log.path()).split('\n');
        QCOMPARE(lines.size(), 5);
        const auto at = [&](const QByteArray& text) {
            return std::find_if(lines.begin(), lines.end(),
                                [&](const QByteArray& line) { return line.contains(text); }) -
                   lines.begin();
        };
        QVERIFY(at(moved + " NOT destroyed: not reached (moved)") > at(moved + " Deleted via"));
        QVERIFY(at(missing + " NOT destroyed: ") > at(missing + " Deleted via"));
        QVERIFY(std::max(at(moved + " NOT destroyed: "), at(missing + " NOT destroyed: ")) < 4);
    }

    // A file that fails only once the run has begun (taken away meanwhile) stops the
    // run there: the files before it are destroyed, it and the rest stay listed.
    void failureInTheMiddleKeepsTheRest()
    {
        Harness h;
        // File by file (the least level's batch takes the files in hand together); the
        // high level refuses a missing file.
        h.settings.SecurityLevel = QStringLiteral("3");
        h.addFiles({"a", "b", "c"});
        const QByteArray taken = h.dir.file("b");
        // Once the first file is overwritten (its delete waits for the run's others).
        h.loop.onYield = [&] {
            if (exists(taken) &&
                (!exists(h.dir.file("a")) || readFile(h.dir.file("a")) != QByteArray(3000, 'x')))
                QFile::remove(QString::fromUtf8(taken));
        };
        h.window->cmdDelete_Click();

        QVERIFY(!exists(h.dir.file("a")));
        QVERIFY(exists(h.dir.file("c")));
        QCOMPARE(h.entries(), (Paths{taken, h.dir.file("c")}));
        QCOMPARE(h.counters(), (QStringList{"3", "1", "2"}));
        QVERIFY(h.text("lblStatus").startsWith(QStringLiteral("Failed: ")));
        QVERIFY(h.text("lblStatus").contains(QString::fromUtf8(taken)));
        // The failure, then the notice for the file destroyed, if any.
        QCOMPARE(h.dialogs.messages.size(), 1 + namesNoticeFor(h.dir.path()).size());
        QVERIFY(h.dialogs.messages[0].startsWith("Stop|Ombrevault|"));
        QVERIFY(names(h.dialogs.messages[0], taken, ENOENT));
        QVERIFY(h.idle());
    }

    // Every entry is looked at before the first byte: a link in the middle of the list
    // (and a missing file after it) stop the run before anything is destroyed, at every
    // level, and all of them are told in one box.
    void aListThatCannotBeDestroyedWholeIsNotBegun()
    {
        for (const char* level : {"1", "2", "3"}) {
            Harness h;
            h.settings.SecurityLevel = QString::fromLatin1(level);
            h.settings.LogOperations = true;
            h.addFiles({"a", "target", "c"});
            const QByteArray link = h.dir.file("link");
            QVERIFY(::symlink(h.dir.file("target").constData(), link.constData()) == 0);
            const QByteArray missing = h.dir.file("missing");
            const Paths listed{h.dir.file("a"), link, h.dir.file("c"), missing};
            h.window->pendingList()->setEntries(listed);
            h.window->cmdDelete_Click();

            for (const char* name : {"a", "target", "c"})
                QCOMPARE(readFile(h.dir.file(name)), QByteArray(3000, 'x'));
            QVERIFY(QFileInfo(QString::fromUtf8(link)).isSymLink());
            QVERIFY(!exists(h.log.path())); // nothing logged as destroyed
            QCOMPARE(h.entries(), listed);
            QCOMPARE(h.counters(), (QStringList{"4", "0", "4"}));
            QVERIFY(
                h.text("lblStatus").startsWith(QStringLiteral("Failed: Nothing was destroyed")));
            QCOMPARE(h.dialogs.messages.size(), 1);
            const QString box = h.dialogs.messages[0];
            QVERIFY2(box.startsWith("Stop|Ombrevault|"), qPrintable(box));
            QVERIFY2(box.contains("these 2 entries cannot be destroyed"), qPrintable(box));
            QVERIFY2(box.contains(QString::fromUtf8(link)), qPrintable(box));
            QVERIFY2(names(box, missing, ENOENT), qPrintable(box));
            QVERIFY(!box.contains(QString::fromUtf8(h.dir.file("a")) + ':'));
            QVERIFY(h.idle());
        }
    }
};

QTEST_MAIN(FilePanelTest)
#include "FilePanelTest.moc"
