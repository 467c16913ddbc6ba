// The secondary windows: options, log viewer, About box, the links they open, and the
// main window's menu commands that reach them.
#include "platform/qt/QtDialogs.h"
#include "platform/qt/XdgOpener.h"
#include "ui/UiWorld.h"
#include "ui/dialogs/OpenLink.h"
#include "ui/dialogs/frmAbout.h"
#include "ui/dialogs/frmOptions.h"
#include "ui/dialogs/frmViewLog.h"
#include "ui/main/frmMain.h"

using namespace ov;
using namespace ov::test;
using Kind = LinkOpener::Outcome::Kind;

namespace {

template <typename T = QPushButton> T* child(QWidget* window, const char* name)
{
    return window->findChild<T*>(QLatin1String(name));
}

void click(QWidget* window, const char* name)
{
    QTest::mouseClick(child(window, name), Qt::LeftButton);
}

// Stores Log, Scramble and Strenth as given (null: not stored).
void put(World& world, const QStringList& values)
{
    const char* names[] = {"Log", "Scramble", "Strenth"};
    for (int i = 0; i < 3; ++i) {
        if (!values[i].isNull())
            world.store.WriteSetting(QLatin1String(names[i]), values[i]);
    }
}

// What the store's file holds under the program's key as name=value, names as spelt.
QStringList stored(const SettingsStore& store)
{
    QSettings file(QFile::decodeName(store.writeFile(RegistryRoot::HKEY_LOCAL_MACHINE)),
                   QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Software/Tallowbrookworks/Ombrevault4"));
    QStringList held;
    for (const QString& name : file.childKeys())
        held << name + '=' + file.value(name).toString();
    return held;
}

// The running copy in the same form.
QStringList running(const Settings& settings)
{
    QStringList held{"Log=" + QString::number(settings.LogOperations),
                     "Scramble=" + QString::number(settings.ScrambleNames)};
    if (!settings.SecurityLevel.isEmpty())
        held << "Strenth=" + settings.SecurityLevel;
    return held;
}

// What the options dialog shows: the two boxes and the level chosen (-1 for none).
QList<int> shown(frmOptions* dialog)
{
    int level = -1;
    for (int i = 0; i < 3; ++i)
        level = dialog->Option1(i)->isChecked() ? i : level;
    return {child<QCheckBox>(dialog, "Check1")->isChecked(),
            child<QCheckBox>(dialog, "Check2")->isChecked(), level};
}

QStringList items(QWidget* viewer)
{
    auto* list = child<QListWidget>(viewer, "List1");
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

const QString kNoLog = QStringLiteral("No log file exists");

// Counts the colour changes a label is put through.
struct PaletteChanges : QObject
{
    int count = 0;
    explicit PaletteChanges(QWidget* watched) { watched->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::PaletteChange;
        return false;
    }
};

// Runs the real opener class on a stand-in program: the kind and exit status it reports.
QList<int> runOpener(const QByteArray& program, const QString& target)
{
    XdgOpener opener(QFile::decodeName(program));
    QList<int> got;
    opener.open(target, [&](auto outcome) { got = {int(outcome.kind), outcome.exitStatus}; });
    return QTest::qWaitFor([&] { return !got.isEmpty(); }, 10000) ? got : QList<int>();
}

// The visible top-level windows of a class.
template <typename Window> QList<QWidget*> open()
{
    QList<QWidget*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<Window*>(widget) && widget->isVisible())
            found << widget;
    }
    return found;
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT
private slots:
    // The options dialog.
    void optionsOpenFromTheStore_data()
    {
        QTest::addColumn<QStringList>("values"); // Log, Scramble, Strenth; null: never stored
        QTest::addColumn<QList<int>>("shown");
        using L = QList<int>;
        QTest::newRow("nothing stored") << QStringList(3) << L{0, 0, -1};
        QTest::newRow("ones") << QStringList{"1", "1", "1"} << L{1, 1, 0};
        QTest::newRow("01 reads as one") << QStringList{"01", "0", "2"} << L{1, 0, 1};
        QTest::newRow("text is off") << QStringList{"yes", "on", "3"} << L{0, 0, 2};
        QTest::newRow("level 4 selects none") << QStringList{"0", "01", "4"} << L{0, 1, -1};
        QTest::newRow("level with a blank selects none")
            << QStringList{"2", "", "3 "} << L{0, 0, -1};
    }
    void optionsOpenFromTheStore()
    {
        QFETCH(QStringList, values);
        World world;
        put(world, values);
        world.settings = {QStringLiteral("3"), true, true}; // the dialog must show the store
        frmOptions dialog(world.context);
        QTEST(shown(&dialog), "shown");
    }

    void optionsSaveWritesStoreAndRunningCopy_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<int>("option"); // chosen in the dialog, -1: none; the boxes toggled then
        QTest::addColumn<QStringList>("saved");
        QTest::newRow("first use: the boxes but no level")
            << QStringList(3) << -1 << QStringList{"Log=0", "Scramble=0"};
        QTest::newRow("choices") << QStringList{"1", {}, {}} << 2
                                 << QStringList{"Log=0", "Scramble=1", "Strenth=3"};
        QTest::newRow("an unknown level is kept")
            << QStringList{{}, {}, "4"} << -1 << QStringList{"Log=0", "Scramble=0", "Strenth=4"};
    }
    void optionsSaveWritesStoreAndRunningCopy()
    {
        QFETCH(QStringList, values);
        QFETCH(int, option);
        QFETCH(QStringList, saved);
        World world;
        put(world, values);
        LoadSettings(world.settings, world.store);
        QPointer<frmOptions> dialog = new frmOptions(world.context);
        dialog->show();
        if (option >= 0) {
            child<QCheckBox>(dialog, "Check1")->toggle();
            child<QCheckBox>(dialog, "Check2")->toggle();
            dialog->Option1(option)->setChecked(true);
        }
        click(dialog, "cmdOK");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(stored(world.store), saved);
        QCOMPARE(running(world.settings), saved);
        QVERIFY(world.dialogs.messages.isEmpty());
    }

    void optionsCancelAndCloseBoxWriteNothing()
    {
        World world;
        put(world, {{}, {}, "1"});
        LoadSettings(world.settings, world.store);
        for (bool viaCloseBox : {false, true}) {
            QPointer<frmOptions> dialog = new frmOptions(world.context);
            child<QCheckBox>(dialog, "Check1")->setChecked(true);
            child<QCheckBox>(dialog, "Check2")->setChecked(true);
            dialog->Option1(2)->setChecked(true);
            viaCloseBox ? void(dialog->close()) : click(dialog, "cmdCancel");
            QTRY_VERIFY(dialog.isNull());
            QCOMPARE(stored(world.store), QStringList{"Strenth=1"});
            QCOMPARE(running(world.settings), (QStringList{"Log=0", "Scramble=0", "Strenth=1"}));
        }
        frmOptions again(world.context);
        QCOMPARE(shown(&again), (QList<int>{0, 0, 0}));
    }

    void optionsPagesComeToTheFrontAndBothAreSaved()
    {
        World world;
        frmOptions dialog(world.context);
        dialog.show();
        QWidget* general = child<QWidget>(&dialog, "Frame2");
        QWidget* security = child<QWidget>(&dialog, "Frame1");
        // A point both pages cover, and the strip of the security page above the other.
        const QPoint shared(300, general->geometry().center().y());
        const QPoint strip(300, (security->y() + general->y()) / 2);
        auto frontPage = [&](QPoint at) {
            QWidget* hit = dialog.childAt(at);
            const auto on = [&](QWidget* page) { return hit == page || page->isAncestorOf(hit); };
            return on(general) ? general : on(security) ? security : nullptr;
        };
        QCOMPARE(frontPage(shared), general);
        QCOMPARE(frontPage(strip), security);

        click(&dialog, "Command1");
        QCOMPARE(frontPage(shared), security);
        dialog.Option1(1)->setChecked(true);
        click(&dialog, "Command2");
        QCOMPARE(frontPage(shared), general);
        child<QCheckBox>(&dialog, "Check1")->setChecked(true);
        dialog.Command1_Click(); // the general page is hidden again when saving
        dialog.cmdOK_Click();
        QCOMPARE(stored(world.store), (QStringList{"Log=1", "Scramble=0", "Strenth=2"}));
    }

    void optionsWindowInTwipsAndTabOrder()
    {
        World world;
        frmOptions dialog(world.context);
        // 6300 x 2520 twips inside at least, 15 to a pixel, and no way to change it; the
        // controls as large as the table makes them at least, where it places them or
        // further right and down.
        QVERIFY(dialog.minimumSize().expandedTo(QSize(420, 168)) == dialog.minimumSize());
        QCOMPARE(dialog.maximumSize(), dialog.minimumSize());
        QVERIFY(!(dialog.windowFlags() &
                  (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const std::pair<const char*, QRect> table[] = {
            {"Command2", {120, 120, 1215, 255}},   {"Command1", {1440, 120, 1215, 255}},
            {"Frame2", {120, 600, 6015, 1335}},    {"Check2", {240, 0, 5055, 255}},
            {"Check1", {240, 360, 2055, 255}},     {"Frame1", {120, 480, 6015, 1455}},
            {"Option1_0", {120, 120, 5175, 255}},  {"Option1_1", {120, 360, 5535, 375}},
            {"Option1_2", {120, 720, 5655, 375}},  {"Label1", {1560, 1200, 3735, 255}},
            {"cmdCancel", {4080, 2160, 975, 255}}, {"cmdOK", {5160, 2160, 975, 255}}};
        for (const auto& [name, twips] : table) {
            const QRect least(twips.topLeft() / 15, twips.size() / 15);
            const QRect placed = child<QWidget>(&dialog, name)->geometry();
            QVERIFY2(placed.x() >= least.x() && placed.y() >= least.y() &&
                         placed.width() >= least.width() && placed.height() >= least.height(),
                     name);
        }

        dialog.show();
        QWidget* w = child(&dialog, "cmdCancel");
        QCOMPARE(dialog.focusWidget(), w);
        // The order of the Tab chain (what of it is covered is skipped by Tab).
        const QStringList controls{"cmdCancel", "cmdOK",  "Option1_2", "Option1_1", "Option1_0",
                                   "Check1",    "Check2", "Command1",  "Command2"};
        QStringList order;
        do {
            if (controls.contains(w->objectName()))
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != child(&dialog, "cmdCancel"));
        QCOMPARE(order, (QStringList{"cmdCancel", "cmdOK", "Option1_2", "Option1_1", "Option1_0",
                                     "Check1", "Check2", "Command1", "Command2"}));
    }

    void optionsSecondOpenOnlyRaisesWithoutReReading()
    {
        World world;
        QPointer<frmOptions> first = frmOptions::showSingle(world.context);
        QVERIFY(first && first->isVisible());
        put(world, {"1", {}, {}});
        QCOMPARE(frmOptions::showSingle(world.context), first.data());
        QCOMPARE(shown(first)[0], 0);
        first->cmdCancel_Click();
        QTRY_VERIFY(first.isNull());
        QPointer<frmOptions> second = frmOptions::showSingle(world.context);
        QCOMPARE(shown(second)[0], 1);
        second->close();
        QTRY_VERIFY(second.isNull());
    }

    void optionsSaveToAStoreThatCannotBeWritten()
    {
        World world;
        // The machine-wide folder and the user's overlay in one that even root may not change.
        const QByteArray locked = world.dir.file("locked");
        QVERIFY(QDir().mkpath(QFile::decodeName(locked)));
        SettingsStore store({locked, locked});
        AppContext context = world.with(&store);
        Immutable guard(locked);
        if (!guard.ok())
            QSKIP("chattr +i is not available here");

        QPointer<frmOptions> dialog = new frmOptions(context);
        child<QCheckBox>(dialog, "Check1")->setChecked(true);
        dialog->Option1(0)->setChecked(true);
        dialog->cmdOK_Click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(world.dialogs.messages.size(), 1);
        const QString& report = world.dialogs.messages[0];
        QVERIFY2(report.startsWith("Exclamation|Ombrevault|The settings could not be saved.\n") &&
                     report.contains(QFile::decodeName(locked)) &&
                     report.contains(QString::fromLocal8Bit(std::strerror(EPERM))),
                 qPrintable(report));
        // The choices hold for this run all the same.
        QCOMPARE(running(world.settings), (QStringList{"Log=1", "Scramble=0", "Strenth=1"}));
        QCOMPARE(stored(store), QStringList());
    }

    // The log viewer.
    void logViewerShowsTheFile_data()
    {
        QTest::addColumn<QByteArray>("path");    // in the temporary folder unless absolute
        QTest::addColumn<QByteArray>("content"); // null: not written
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("no file") << QByteArray("log.txt") << QByteArray() << QStringList{kNoLog};
        QTest::newRow("a hidden file counts as missing")
            << QByteArray(".log.txt") << QByteArray("[1 - 2] : x\r\n") << QStringList{kNoLog};
        QTest::newRow("empty") << QByteArray("log.txt") << QByteArray("") << QStringList();
        QTest::newRow("lines in order without their ends")
            << QByteArray("log.txt")
            << QByteArray("[1/2/26 - 10:00:00] : /a Deleted via ratio 1\r\n\r\nunix end\n"
                          "bad \xff\xfe bytes caf\xc3\xa9\r\nlast without end")
            << QStringList{"[1/2/26 - 10:00:00] : /a Deleted via ratio 1", "", "unix end",
                           "bad \uFFFD\uFFFD bytes caf\u00e9", "last without end"};
        // A process's own memory image: open succeeds, reading from 0 fails.
        QTest::newRow("unreadable")
            << QByteArray("/proc/self/mem") << QByteArray()
            << QStringList{"The log file could not be read: " + reason("/proc/self/mem", EIO)};
    }
    void logViewerShowsTheFile()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        World world;
        OperationLog log(path.startsWith('/') ? path : world.dir.file(path));
        AppContext context = world.with(nullptr, &log);
        if (!content.isNull())
            writeFile(log.path(), content);
        frmViewLog viewer(context);
        QCOMPARE(items(&viewer), expected);
        // A file that is there is read without holding up the window.
        QCOMPARE(world.loop.blockingCalls, expected == QStringList{kNoLog} ? 0 : 1);
    }

    void logViewerClearLogThenReopen()
    {
        World world;
        writeFile(world.log.path(), "one\r\ntwo\r\n");
        QPointer<frmViewLog> viewer = frmViewLog::showSingle(world.context);
        QCOMPARE(items(viewer).size(), 2);
        click(viewer, "Command2");
        QCOMPARE(items(viewer), QStringList());
        QVERIFY(!exists(world.log.path()));
        click(viewer, "Command2"); // again on the missing file: only the list is emptied
        QCOMPARE(items(viewer), QStringList());
        QVERIFY(world.dialogs.messages.isEmpty());

        click(viewer, "cmdExit");
        QTRY_VERIFY(viewer.isNull());
        viewer = frmViewLog::showSingle(world.context);
        QCOMPARE(items(viewer), QStringList{kNoLog});
        viewer->close();
        QTRY_VERIFY(viewer.isNull());
    }

    void logViewerScrollsToTheEndOfTheLongestLine()
    {
        World world;
        const QByteArray longLine =
            "[1/2/26 - 10:00:00] : /" + QByteArray(200, 'd') + "/old.doc Deleted via ratio 3";
        writeFile(world.log.path(), "[1 - 2] : short\r\n" + longLine + "\r\n[3 - 4] : short\r\n");
        frmViewLog viewer(world.context);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        auto* list = child<QListWidget>(&viewer, "List1");
        QScrollBar* bar = list->horizontalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        const QRect line = list->visualItemRect(list->item(1));
        QVERIFY(line.width() >= list->fontMetrics().horizontalAdvance(list->item(1)->text()));
        QVERIFY(line.right() <= list->viewport()->width()); // "ratio 3" in sight
    }

    void logViewerAskedAgainWhileReading()
    {
        // The read serves events; a second View Logs in that time must not make a
        // second viewer.
        World world;
        writeFile(world.log.path(), "one\r\n");
        frmViewLog* inner = nullptr;
        world.loop.onBlocking = [&] { inner = frmViewLog::showSingle(world.context); };
        QPointer<frmViewLog> viewer = frmViewLog::showSingle(world.context);
        world.loop.onBlocking = nullptr;
        QVERIFY(viewer);
        QVERIFY(!inner);
        QCOMPARE(open<frmViewLog>().size(), 1);
        QCOMPARE(items(viewer), QStringList{"one"});
        viewer->close();
        QTRY_VERIFY(viewer.isNull());
    }

    void logViewerClearLogOnAFileThatCannotBeDeleted()
    {
        World world;
        writeFile(world.log.path(), "kept\r\n");
        Immutable guard(world.log.path());
        if (!guard.ok())
            QSKIP("chattr +i is not available here");
        frmViewLog viewer(world.context);
        viewer.Command2_Click();
        QCOMPARE(items(&viewer), QStringList());
        QVERIFY(exists(world.log.path()));
        QCOMPARE(world.dialogs.messages,
                 QStringList{"Exclamation|Ombrevault|The log file could not be deleted.\n" +
                             reason(world.log.path(), EPERM)});
    }

    // The About box.
    void aboutBuildTextAndLinkColour()
    {
        World world;
        frmAbout about(world.context);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QString version = QStringLiteral(OV_VERSION_STRING);
        QCOMPARE(child<QLabel>(&about, "Label1")->text(), "Build: " + QString(version).remove('.'));
        QCOMPARE(child<QLabel>(&about, "Label4")->text(), version.section('.', 0, 1));

        // The link turns blue over the window, red over itself, and stays over other controls.
        QWidget* link = child<QWidget>(&about, "lblLink");
        const auto shownColour = [&] { return link->palette().color(QPalette::WindowText); };
        QCOMPARE(about.linkColour(), about.palette().color(QPalette::ButtonText));
        PaletteChanges changes(link);

        const QPoint emptyArea(4, 60);
        QVERIFY(!about.childAt(emptyArea));
        QTest::mouseMove(&about, emptyArea);
        QTRY_COMPARE(about.linkColour(), QColor(Qt::blue));
        QCOMPARE(shownColour(), QColor(Qt::blue));

        QTest::mouseMove(link, link->rect().center());
        QTRY_COMPARE(about.linkColour(), QColor(Qt::red));
        QTest::mouseMove(link, link->rect().center() + QPoint(2, 0));
        QTest::mouseMove(link, link->rect().center() - QPoint(2, 0));
        QCOMPARE(shownColour(), QColor(Qt::red));
        QCOMPARE(changes.count, 2); // blue, red: repeated moves change nothing

        // Over other controls the colour stays as it was.
        for (const char* name : {"Picture1", "Label2", "Command1"})
            QTest::mouseMove(child<QWidget>(&about, name), QPoint(3, 3));
        QCoreApplication::processEvents();
        QCOMPARE(about.linkColour(), QColor(Qt::red));

        QTest::mouseMove(&about, emptyArea);
        QTRY_COMPARE(about.linkColour(), QColor(Qt::blue));
        QCOMPARE(changes.count, 3);
    }

    // "4.2" keeps its light colour, standing on a darker copy of itself that makes it
    // legible on the window's light background.
    void aboutVersionIsLegible()
    {
        World world;
        frmAbout about(world.context);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        auto* version = child<QLabel>(&about, "Label4");
        QCOMPARE(version->palette().color(QPalette::WindowText),
                 about.palette().color(QPalette::Light));
        const QImage shown = version->grab().toImage();
        const auto luminance = [](QColor c) {
            const auto channel = [](double v) {
                v /= 255;
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) +
                   0.0722 * channel(c.blue());
        };
        const double background = luminance(about.palette().color(QPalette::Window));
        int legible = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const double l = luminance(shown.pixelColor(x, y));
                const double contrast =
                    (std::max(l, background) + 0.05) / (std::min(l, background) + 0.05);
                legible += contrast >= 4.5;
            }
        }
        // Strokes of the glyphs, not a stray pixel: at least a tenth of the text's area.
        const QSize text =
            version->fontMetrics().size(0, version->text()) * version->devicePixelRatioF();
        QVERIFY2(legible * 10 >= text.width() * text.height() / 10,
                 qPrintable(QString::number(legible)));
    }

    void aboutLinksOpenOnReleaseOfEitherButtonAndCloseCloses()
    {
        World world;
        QPointer<frmAbout> about = new frmAbout(world.context);
        about->show();
        QVERIFY(QTest::qWaitForWindowExposed(about));
        for (const char* name : {"lblLink", "Label2"}) {
            QTest::mouseClick(child<QWidget>(about, name), Qt::LeftButton, {}, QPoint(3, 3));
            QTest::mouseClick(child<QWidget>(about, name), Qt::RightButton, {}, QPoint(3, 3));
        }
        const QString site = QStringLiteral("https://www.tallowbrookworks.example/");
        QCOMPARE(world.opener.targets,
                 (QStringList{site, site, "mailto:support@tallowbrookworks.example"}));
        // A failure of the opener is explained, here for the mail link.
        for (int status : {0, 0, 3})
            world.opener.answer({Kind::Finished, status});
        QCOMPARE(world.dialogs.messages.size(), 1);
        QVERIFY(world.dialogs.messages[0].startsWith("Exclamation|No Association In Registry|"));

        click(about, "Command1");
        QTRY_VERIFY(about.isNull());
    }

    // OpenLink.
    void openLinkOutcomesAndTheirBoxes_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown"); // "icon|title|text", empty for none
        const QString stars(69, QLatin1Char('*'));
        const QString noAssociation =
            "Exclamation|No Association In Registry|" + stars +
            "\n!     No Association Found for HTTP Addresses.                !\n"
            "!     A Web Browser should be Installed or reinstalled         !\n" +
            stars;
        const QString error =
            QStringLiteral("Stop|ERROR|An error occurred attempting to open your browser to "
                           "path...\n'https://example.invalid/a b'\nERROR Return code: ( %1 )");
        QTest::newRow("opened") << int(Kind::Finished) << 0 << QString();
        QTest::newRow("not found") << int(Kind::Finished) << 2
                                   << "Exclamation|Link Not Found|The Path:\n"
                                      "'https://example.invalid/a b'\nWas Not Found.";
        QTest::newRow("no tool") << int(Kind::Finished) << 3 << noAssociation;
        QTest::newRow("no opener") << int(Kind::NotStarted) << 0 << noAssociation;
        QTest::newRow("action failed") << int(Kind::Finished) << 4 << error.arg(4);
        QTest::newRow("syntax") << int(Kind::Finished) << 1 << error.arg(1);
        QTest::newRow("crashed") << int(Kind::Crashed) << -1 << error.arg(-1);
    }
    void openLinkOutcomesAndTheirBoxes()
    {
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(QString, shown);
        World world;
        OpenLink(QStringLiteral("https://example.invalid/a b"), world.context, nullptr);
        QCOMPARE(world.opener.targets, QStringList{QStringLiteral("https://example.invalid/a b")});
        QVERIFY(world.dialogs.messages.isEmpty()); // nothing before the opener has answered
        world.opener.answer({Kind(kind), status});
        QCOMPARE(world.dialogs.messages, shown.isEmpty() ? QStringList() : QStringList{shown});
    }

    void openLinkMissingLocalFileIsReportedWithoutTheOpener()
    {
        World world;
        const QString missing = QFile::decodeName(world.dir.file("help")) + "/help.html";
        QStringList expected;
        for (const QString& target : {missing, "file://" + missing}) {
            OpenLink(target, world.context, nullptr);
            expected << "Exclamation|Link Not Found|The Path:\n'" + target + "'\nWas Not Found.";
        }
        QVERIFY(world.opener.targets.isEmpty());
        QCOMPARE(world.dialogs.messages, expected);

        // A folder or a file that is there goes to the opener.
        writeFile(world.dir.file("page.html"), "<p>");
        OpenLink(QFile::decodeName(world.dir.file("page.html")), world.context, nullptr);
        OpenLink(QFile::decodeName(world.dir.path()), world.context, nullptr);
        QCOMPARE(world.opener.targets.size(), 2);

        // An answer after the window has gone is still reported.
        auto* window = new QWidget;
        OpenLink(QStringLiteral("mailto:x@example.invalid"), world.context, window);
        delete window;
        world.opener.answer({Kind::Finished, 2});
        QCOMPARE(world.dialogs.messages.size(), 3);
    }

    void openLinkWithTheRealOpenerMissingFromPath()
    {
        World world;
        XdgOpener desktop; // the desktop's own opener
        AppContext context = world.with(nullptr, nullptr, &desktop);
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", world.dir.path()); // a folder without xdg-open
        OpenLink(QStringLiteral("https://www.tallowbrookworks.example/"), context, nullptr);
        qputenv("PATH", savedPath);
        QTRY_COMPARE(world.dialogs.messages.size(), 1);
        QVERIFY(world.dialogs.messages[0].startsWith("Exclamation|No Association In Registry|"));
    }

    void realOpenerReportsExitStatusAndCrash()
    {
        TempDir dir;
        const QByteArray script = dir.file("opener"), seen = dir.file("seen");
        writeFile(script,
                  "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + seen +
                      "'\ncase \"$1\" in crash) kill -9 $$;; [0-9]) exit \"$1\";; esac\nexit 0\n");
        QVERIFY(QFile::setPermissions(QFile::decodeName(script),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        for (int status : {0, 2, 3, 4})
            QCOMPARE(runOpener(script, QString::number(status)),
                     (QList<int>{int(Kind::Finished), status}));
        QCOMPARE(runOpener(script, "crash").value(0, -1), int(Kind::Crashed));
        QCOMPARE(runOpener(dir.file("no-such-opener"), "x").value(0, -1), int(Kind::NotStarted));
        // The target travels as one argument, blanks and all.
        QCOMPARE(runOpener(script, "0 and more"), (QList<int>{int(Kind::Finished), 0}));
        QCOMPARE(readFile(seen), QByteArray("1|0 and more"));
    }

    // Add File takes a typed name of a file that is not there: the dialog completes it to a
    // full path and that becomes the entry.
    void openFileDialogTakesANameThatDoesNotExist()
    {
        TempDir dir;
        const QByteArray missing = dir.file("not there yet.txt");
        bool typed = false;
        // Types the name once the dialog is up, and presses Open as its button does.
        std::function<void()> type = [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                QTimer::singleShot(20, type);
                return;
            }
            typed = true;
            dialog->selectFile(QFile::decodeName(missing));
            QMetaObject::invokeMethod(dialog, "accept");
            // A dialog that insists on an existing file stays open: give up on it.
            QTimer::singleShot(3000, dialog, &QDialog::reject);
        };
        QTimer::singleShot(0, type);
        QtDialogs dialogs;
        const std::optional<QByteArray> chosen = dialogs.openFile(
            nullptr, QStringLiteral("Select File"), dir.path(), QStringLiteral("All Files (*)"));
        QVERIFY(typed);
        QCOMPARE(chosen.value_or("(cancelled)"), missing);
        QVERIFY(!exists(missing));
    }

    // The main window's menu commands.
    void menuOpensEachSecondaryWindowOnce()
    {
        World world;
        frmMain main(world.context, CommandLine{});
        main.show();
        const auto choose = [&](const char* name) {
            main.findChild<QAction*>(QLatin1String(name))->trigger();
        };
        for (const char* action : {"mnuOptions", "mnuViewLogs", "mnuAbout"}) {
            choose(action);
            choose(action);
        }
        const auto all = [] { return open<frmOptions>() + open<frmViewLog>() + open<frmAbout>(); };
        const QList<QWidget*> windows = all();
        QCOMPARE(windows.size(), 3); // one of each, on its own
        QVERIFY(qobject_cast<frmOptions*>(windows[0]) && qobject_cast<frmViewLog*>(windows[1]) &&
                qobject_cast<frmAbout*>(windows[2]));
        for (QWidget* window : windows)
            QVERIFY(!window->parentWidget());
        choose("mnuExit"); // closing the main window leaves them open
        QVERIFY(!main.isVisible());
        QCOMPARE(all(), windows);
        for (QWidget* window : windows)
            window->close();
        QTRY_VERIFY(all().isEmpty());

        choose("mnuHelp1"); // the page beside the program
        QCOMPARE(world.opener.targets, QStringList{QFile::decodeName(helpPagePath())});
        QVERIFY(world.dialogs.messages.isEmpty());
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
