#include "DialogFakes.h"
#include "DialogTests.h"

#include "ui/dialogs/frmOptions.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

namespace ov::test {

namespace {

// What the store's file holds under the program's key (no case folding).
QStringList storedNames(const DialogWorld& world)
{
    QSettings file(QFile::decodeName(world.store->writeFile(RegistryRoot::HKEY_LOCAL_MACHINE)),
                   QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Software/Tallowbrookworks/Ombrevault4"));
    return file.childKeys();
}

template <typename T> T* child(QWidget* window, const char* name)
{
    T* found = window->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

int selectedLevel(frmOptions* dialog)
{
    for (int i = 0; i < 3; ++i) {
        if (dialog->Option1(i)->isChecked())
            return i;
    }
    return -1;
}

// Deletion of a closed dialog is deferred; wait for it.
bool closedAndGone(QPointer<frmOptions>& dialog)
{
    return QTest::qWaitFor([&] { return dialog.isNull(); }, 2000);
}

} // namespace

class OptionsTest : public QObject
{
    Q_OBJECT
private slots:
    void opensFromTheStore_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("scramble");
        QTest::addColumn<QString>("level");
        QTest::addColumn<bool>("logChecked");
        QTest::addColumn<bool>("scrambleChecked");
        QTest::addColumn<int>("option");
        // A null text stands for a value that was never stored.
        QTest::newRow("nothing stored")
            << QString() << QString() << QString() << false << false << -1;
        QTest::newRow("ones") << "1"
                              << "1"
                              << "1" << true << true << 0;
        QTest::newRow("01 reads as one") << "01"
                                         << "0"
                                         << "2" << true << false << 1;
        QTest::newRow("text is off") << "yes"
                                     << "on"
                                     << "3" << false << false << 2;
        QTest::newRow("level 4 selects none") << "0"
                                              << "01"
                                              << "4" << false << true << -1;
        QTest::newRow("level with a blank selects none") << "2"
                                                         << ""
                                                         << "3 " << false << false << -1;
    }
    void opensFromTheStore()
    {
        QFETCH(QString, log);
        QFETCH(QString, scramble);
        QFETCH(QString, level);
        DialogWorld world;
        if (!log.isNull())
            world.store->WriteSetting(QStringLiteral("Log"), log);
        if (!scramble.isNull())
            world.store->WriteSetting(QStringLiteral("Scramble"), scramble);
        if (!level.isNull())
            world.store->WriteSetting(QStringLiteral("Strenth"), level);
        // The running copy says otherwise: the dialog must show the store.
        world.settings = {QStringLiteral("3"), true, true};

        frmOptions dialog(world.context);
        QTEST(child<QCheckBox>(&dialog, "Check1")->isChecked(), "logChecked");
        QTEST(child<QCheckBox>(&dialog, "Check2")->isChecked(), "scrambleChecked");
        QTEST(selectedLevel(&dialog), "option");
    }

    void saveOnFirstUseWritesBoxesButNoLevel()
    {
        DialogWorld world;
        QPointer<frmOptions> dialog = new frmOptions(world.context);
        dialog->show();
        QTest::mouseClick(child<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        QVERIFY(closedAndGone(dialog));
        QCOMPARE(world.store->ReadSetting(QStringLiteral("Log")), QStringLiteral("0"));
        QCOMPARE(world.store->ReadSetting(QStringLiteral("Scramble")), QStringLiteral("0"));
        QVERIFY(!storedNames(world).contains(QStringLiteral("Strenth"), Qt::CaseInsensitive));
        QCOMPARE(world.settings.SecurityLevel, QString());
        QVERIFY(!world.settings.LogOperations);
        QVERIFY(world.dialogs.messages.empty());
    }

    void saveWritesStoreAndRunningCopy()
    {
        DialogWorld world;
        world.store->WriteSetting(QStringLiteral("Log"), QStringLiteral("1"));
        world.settings.LogOperations = true;
        QPointer<frmOptions> dialog = new frmOptions(world.context);
        child<QCheckBox>(dialog, "Check1")->setChecked(false);
        child<QCheckBox>(dialog, "Check2")->setChecked(true);
        dialog->Option1(2)->setChecked(true);
        dialog->cmdOK_Click();
        QVERIFY(closedAndGone(dialog));
        QCOMPARE(world.store->ReadSetting(QStringLiteral("Log")), QStringLiteral("0"));
        QCOMPARE(world.store->ReadSetting(QStringLiteral("Scramble")), QStringLiteral("1"));
        QCOMPARE(world.store->ReadSetting(QStringLiteral("strenth")), QStringLiteral("3"));
        QVERIFY(storedNames(world).contains(QStringLiteral("Strenth")));
        QVERIFY(!world.settings.LogOperations);
        QVERIFY(world.settings.ScrambleNames);
        QCOMPARE(world.settings.SecurityLevel, QStringLiteral("3"));
    }

    void saveWithoutChoiceKeepsAnUnknownLevel()
    {
        DialogWorld world;
        world.store->WriteSetting(QStringLiteral("Strenth"), QStringLiteral("4"));
        LoadSettings(world.settings, *world.store);
        frmOptions* dialog = new frmOptions(world.context);
        QCOMPARE(selectedLevel(dialog), -1);
        dialog->cmdOK_Click();
        QCOMPARE(world.store->ReadSetting(QStringLiteral("Strenth")), QStringLiteral("4"));
        QCOMPARE(world.settings.SecurityLevel, QStringLiteral("4"));
    }

    void cancelAndCloseBoxWriteNothing()
    {
        DialogWorld world;
        world.store->WriteSetting(QStringLiteral("Strenth"), QStringLiteral("1"));
        LoadSettings(world.settings, *world.store);
        const Settings before = world.settings;
        for (bool viaCloseBox : {false, true}) {
            QPointer<frmOptions> dialog = new frmOptions(world.context);
            child<QCheckBox>(dialog, "Check1")->setChecked(true);
            child<QCheckBox>(dialog, "Check2")->setChecked(true);
            dialog->Option1(2)->setChecked(true);
            if (viaCloseBox)
                dialog->close();
            else
                QTest::mouseClick(child<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
            QVERIFY(closedAndGone(dialog));
            QCOMPARE(storedNames(world), QStringList{QStringLiteral("Strenth")});
            QCOMPARE(world.settings.SecurityLevel, before.SecurityLevel);
            QVERIFY(!world.settings.LogOperations && !world.settings.ScrambleNames);
        }
        frmOptions again(world.context);
        QCOMPARE(selectedLevel(&again), 0);
        QVERIFY(!child<QCheckBox>(&again, "Check1")->isChecked());
    }

    void pagesComeToTheFrontAndBothAreSaved()
    {
        DialogWorld world;
        frmOptions dialog(world.context);
        dialog.show();
        QWidget* general = child<QWidget>(&dialog, "Frame2");
        QWidget* security = child<QWidget>(&dialog, "Frame1");
        // A point both pages cover, and the strip of the security page above the other.
        const QPoint shared(300, 110);
        const QPoint strip(300, 35);
        auto frontPage = [&](QPoint at) {
            QWidget* hit = dialog.childAt(at);
            if (hit == general || general->isAncestorOf(hit))
                return general;
            if (hit == security || security->isAncestorOf(hit))
                return security;
            return static_cast<QWidget*>(nullptr);
        };
        QCOMPARE(frontPage(shared), general);
        QCOMPARE(frontPage(strip), security);

        QTest::mouseClick(child<QPushButton>(&dialog, "Command1"), Qt::LeftButton);
        QCOMPARE(frontPage(shared), security);
        dialog.Option1(1)->setChecked(true);
        QTest::mouseClick(child<QPushButton>(&dialog, "Command2"), Qt::LeftButton);
        QCOMPARE(frontPage(shared), general);
        QVERIFY(dialog.Option1(1)->isChecked());

        child<QCheckBox>(&dialog, "Check1")->setChecked(true);
        dialog.Command1_Click(); // the general page is hidden again when saving
        dialog.cmdOK_Click();
        QCOMPARE(world.store->ReadSetting(QStringLiteral("Log")), QStringLiteral("1"));
        QCOMPARE(world.store->ReadSetting(QStringLiteral("Strenth")), QStringLiteral("2"));
    }

    void windowLayoutAndTabOrder()
    {
        DialogWorld world;
        frmOptions dialog(world.context);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Options"));
        QCOMPARE(dialog.size(), QSize(420, 168));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(!dialog.parentWidget());
        QVERIFY(dialog.testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(child<QPushButton>(&dialog, "cmdOK")->text(), QStringLiteral("Save "));
        QCOMPARE(child<QPushButton>(&dialog, "cmdOK")->geometry(), QRect(344, 144, 65, 17));
        QCOMPARE(child<QWidget>(&dialog, "Frame1")->geometry(), QRect(8, 32, 401, 97));
        QCOMPARE(dialog.Option1(2)->geometry(), QRect(8, 48, 377, 25));
        QCOMPARE(child<QCheckBox>(&dialog, "Check2")->text(),
                 QStringLiteral("Name scramblinng - more time but more secure (File Cleaner)"));

        dialog.show();
        QCOMPARE(dialog.focusWidget(), child<QWidget>(&dialog, "cmdCancel"));
        QStringList order;
        QWidget* w = child<QWidget>(&dialog, "cmdCancel");
        do {
            if (w->focusPolicy() & Qt::TabFocus)
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != child<QWidget>(&dialog, "cmdCancel"));
        const QStringList expected = {"cmdCancel", "cmdOK",  "Option1_2", "Option1_1", "Option1_0",
                                      "Check1",    "Check2", "Command1",  "Command2"};
        QCOMPARE(order, expected);
    }

    void secondOpenOnlyRaisesWithoutReReading()
    {
        DialogWorld world;
        QPointer<frmOptions> first = frmOptions::showSingle(world.context);
        QVERIFY(first);
        QVERIFY(first->isVisible());
        world.store->WriteSetting(QStringLiteral("Log"), QStringLiteral("1"));
        QCOMPARE(frmOptions::showSingle(world.context), first.data());
        QVERIFY(!child<QCheckBox>(first, "Check1")->isChecked());
        first->cmdCancel_Click();
        QVERIFY(closedAndGone(first));
        QPointer<frmOptions> second = frmOptions::showSingle(world.context);
        QVERIFY(child<QCheckBox>(second, "Check1")->isChecked());
        second->close();
        QVERIFY(closedAndGone(second));
    }

    void saveToAStoreThatCannotBeWritten()
    {
        DialogWorld world;
        // Both the machine-wide folder and the user's overlay lie in one folder that even
        // root may not change.
        const QByteArray locked = world.dir.file("locked");
        QVERIFY(QDir().mkpath(QFile::decodeName(locked)));
        world.store = std::make_unique<SettingsStore>(SettingsStore::Locations{locked, locked});
        world.context.store = world.store.get();
        Immutable guard(locked);
        if (!guard.ok())
            QSKIP("chattr +i is not available here");

        QPointer<frmOptions> dialog = new frmOptions(world.context);
        child<QCheckBox>(dialog, "Check1")->setChecked(true);
        dialog->Option1(0)->setChecked(true);
        dialog->cmdOK_Click();
        QVERIFY(closedAndGone(dialog));

        QCOMPARE(world.dialogs.messages.size(), size_t(1));
        const auto& box = world.dialogs.messages.front();
        QCOMPARE(box.icon, Dialogs::Icon::Exclamation);
        QCOMPARE(box.title, QStringLiteral("Ombrevault"));
        QVERIFY2(box.text.startsWith(QStringLiteral("The settings could not be saved.\n")),
                 qPrintable(box.text));
        QVERIFY2(box.text.contains(QFile::decodeName(locked)), qPrintable(box.text));
        QVERIFY2(box.text.contains(QString::fromLocal8Bit(strerror(EPERM))), qPrintable(box.text));
        // The choices hold for this run all the same.
        QVERIFY(world.settings.LogOperations);
        QCOMPARE(world.settings.SecurityLevel, QStringLiteral("1"));
        QCOMPARE(world.store->ReadSetting(QStringLiteral("Log")), QString());
    }
};

std::unique_ptr<QObject> makeOptionsTest()
{
    return std::make_unique<OptionsTest>();
}

} // namespace ov::test

#include "OptionsTest.moc"
