#include "DialogFakes.h"
#include "DialogTests.h"

#include "ui/dialogs/frmViewLog.h"

#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ov::test {

namespace {

QStringList items(QWidget* viewer)
{
    auto* list = viewer->findChild<QListWidget*>(QStringLiteral("List1"));
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QPushButton* button(QWidget* viewer, const char* name)
{
    return viewer->findChild<QPushButton*>(QLatin1String(name));
}

// A write-only attribute of the kernel: a regular file that even root cannot open for
// reading. Not every system shows one.
QByteArray writeOnlyKernelFile()
{
    for (const char* path : {"/sys/bus/pci/rescan", "/sys/class/zram-control/hot_remove",
                             "/sys/devices/system/memory/probe"}) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        else if (errno == EACCES)
            return path;
    }
    return {};
}

} // namespace

class LogViewerTest : public QObject
{
    Q_OBJECT
private slots:
    void noFileShowsTheNotice()
    {
        DialogWorld world;
        frmViewLog viewer(world.context);
        QCOMPARE(items(&viewer), QStringList{QStringLiteral("No log file exists")});
    }

    void hiddenFileCountsAsMissing()
    {
        DialogWorld world;
        DialogWorld hidden(world.dir.file(".log.txt"));
        writeFile(world.dir.file(".log.txt"), "[1 - 2] : x\r\n");
        frmViewLog viewer(hidden.context);
        QCOMPARE(items(&viewer), QStringList{QStringLiteral("No log file exists")});
    }

    void emptyFileShowsNothing()
    {
        DialogWorld world;
        writeFile(world.log->path(), "");
        frmViewLog viewer(world.context);
        QCOMPARE(items(&viewer), QStringList());
    }

    void linesInFileOrderWithoutTheirEnds()
    {
        DialogWorld world;
        writeFile(world.log->path(), "[1/2/26 - 10:00:00] : /a Deleted via ratio 1\r\n"
                                     "\r\n"
                                     "unix end\n"
                                     "bad \xff\xfe bytes caf\xc3\xa9\r\n"
                                     "last without end");
        frmViewLog viewer(world.context);
        const QStringList expected = {
            QStringLiteral("[1/2/26 - 10:00:00] : /a Deleted via ratio 1"), QString(),
            QStringLiteral("unix end"), QStringLiteral("bad \uFFFD\uFFFD bytes caf\u00e9"),
            QStringLiteral("last without end")};
        QCOMPARE(items(&viewer), expected);
        QCOMPARE(world.loop.blockingCalls, 1); // the read does not hold up the window
    }

    void unreadableFileSaysWhy_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("code");
        // A process's own memory image: open succeeds, reading from 0 fails.
        QTest::newRow("read fails") << QByteArray("/proc/self/mem") << EIO;
        const QByteArray writeOnly = writeOnlyKernelFile();
        if (!writeOnly.isEmpty())
            QTest::newRow("open fails") << writeOnly << EACCES;
    }
    void unreadableFileSaysWhy()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, code);
        DialogWorld world(path);
        frmViewLog viewer(world.context);
        const QString expected = QStringLiteral("The log file could not be read: ") +
                                 QFile::decodeName(path) + QStringLiteral(": ") +
                                 QString::fromLocal8Bit(std::strerror(code));
        QCOMPARE(items(&viewer), QStringList{expected});
    }

    void clearLogThenReopen()
    {
        DialogWorld world;
        writeFile(world.log->path(), "one\r\ntwo\r\n");
        QPointer<frmViewLog> viewer = frmViewLog::showSingle(world.context);
        QCOMPARE(items(viewer).size(), 2);
        QTest::mouseClick(button(viewer, "Command2"), Qt::LeftButton);
        QCOMPARE(items(viewer), QStringList());
        QVERIFY(!exists(world.log->path()));
        QVERIFY(world.dialogs.messages.empty());

        // Again on the missing file: only the list is emptied.
        QTest::mouseClick(button(viewer, "Command2"), Qt::LeftButton);
        QCOMPARE(items(viewer), QStringList());
        QVERIFY(world.dialogs.messages.empty());

        QTest::mouseClick(button(viewer, "cmdExit"), Qt::LeftButton);
        QTRY_VERIFY(viewer.isNull());
        viewer = frmViewLog::showSingle(world.context);
        QCOMPARE(items(viewer), QStringList{QStringLiteral("No log file exists")});
        viewer->close();
        QTRY_VERIFY(viewer.isNull());
    }

    void snapshotUntilReopened()
    {
        DialogWorld world;
        world.log->AppendLog("first");
        QPointer<frmViewLog> viewer = frmViewLog::showSingle(world.context);
        world.log->AppendLog("second");
        QCOMPARE(frmViewLog::showSingle(world.context), viewer.data());
        QCOMPARE(items(viewer).size(), 1);
        viewer->cmdExit_Click();
        QTRY_VERIFY(viewer.isNull());
        viewer = frmViewLog::showSingle(world.context);
        QCOMPARE(items(viewer).size(), 2);
        QVERIFY(items(viewer).at(1).endsWith(QStringLiteral("] : second")));
        viewer->close();
        QTRY_VERIFY(viewer.isNull());
    }

    void clearLogOnAFileThatCannotBeDeleted()
    {
        DialogWorld world;
        writeFile(world.log->path(), "kept\r\n");
        Immutable guard(world.log->path());
        if (!guard.ok())
            QSKIP("chattr +i is not available here");
        frmViewLog viewer(world.context);
        viewer.Command2_Click();
        QCOMPARE(items(&viewer), QStringList());
        QVERIFY(exists(world.log->path()));
        QCOMPARE(world.dialogs.messages.size(), size_t(1));
        const auto& box = world.dialogs.messages.front();
        QCOMPARE(box.icon, Dialogs::Icon::Exclamation);
        QCOMPARE(box.text, QStringLiteral("The log file could not be deleted.\n") +
                               QFile::decodeName(world.log->path()) + QStringLiteral(": ") +
                               QString::fromLocal8Bit(std::strerror(EPERM)));
    }

    void windowLayout()
    {
        DialogWorld world;
        frmViewLog viewer(world.context);
        QCOMPARE(viewer.windowTitle(), QStringLiteral("Log viewer"));
        QCOMPARE(viewer.size(), QSize(485, 135));
        QCOMPARE(viewer.minimumSize(), viewer.maximumSize());
        QVERIFY(!(viewer.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(viewer.testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(viewer.findChild<QWidget*>(QStringLiteral("List1"))->geometry(),
                 QRect(8, 8, 473, 95));
        QCOMPARE(button(&viewer, "Command2")->text(), QStringLiteral("Clear Log"));
        QCOMPARE(button(&viewer, "Command2")->geometry(), QRect(304, 112, 81, 17));
        QCOMPARE(button(&viewer, "cmdExit")->text(), QStringLiteral("Close"));
        QCOMPARE(button(&viewer, "cmdExit")->font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(button(&viewer, "cmdExit")->font().pointSizeF(), 8.25);
    }
};

std::unique_ptr<QObject> makeLogViewerTest()
{
    return std::make_unique<LogViewerTest>();
}

} // namespace ov::test

#include "LogViewerTest.moc"
