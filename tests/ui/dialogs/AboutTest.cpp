#include "DialogFakes.h"
#include "DialogTests.h"

#include "ui/dialogs/frmAbout.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace ov::test {

namespace {

QWidget* control(QWidget* window, const char* name)
{
    QWidget* found = window->findChild<QWidget*>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

QColor shownColour(QWidget* window)
{
    return control(window, "lblLink")->palette().color(QPalette::WindowText);
}

// Counts the colour changes a label is put through.
class PaletteChanges : public QObject
{
public:
    explicit PaletteChanges(QWidget* watched) { watched->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            ++count;
        return false;
    }
    int count = 0;
};

} // namespace

class AboutTest : public QObject
{
    Q_OBJECT
private slots:
    void textsAndLayout()
    {
        DialogWorld world;
        frmAbout about(world.context);
        QCOMPARE(about.windowTitle(), QStringLiteral("About Ombrevault "));
        QCOMPARE(about.size(), QSize(312, 150));
        QCOMPARE(about.minimumSize(), about.maximumSize());
        QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(about.testAttribute(Qt::WA_DeleteOnClose));
        // The build text follows the project's version, 4.2.2 in this release.
        QString digits = QStringLiteral(OV_VERSION_STRING);
        digits.remove(QLatin1Char('.'));
        QCOMPARE(static_cast<QLabel*>(control(&about, "Label1"))->text(),
                 QStringLiteral("Build: ") + digits);
        QCOMPARE(static_cast<QLabel*>(control(&about, "Label4"))->text(),
                 QStringLiteral(OV_VERSION_STRING).section(QLatin1Char('.'), 0, 1));
        QCOMPARE(static_cast<QLabel*>(control(&about, "lblLink"))->text(),
                 QStringLiteral("HTTPS://WWW.TALLOWBROOKWORKS.EXAMPLE/"));
        QCOMPARE(static_cast<QLabel*>(control(&about, "Label2"))->text(),
                 QStringLiteral("support@tallowbrookworks.example"));
        QCOMPARE(control(&about, "Label2")->palette().color(QPalette::WindowText),
                 QColor(0, 0, 192));
        QVERIFY(control(&about, "Label2")->font().bold());
        QCOMPARE(static_cast<QPushButton*>(control(&about, "Command1"))->text(),
                 QStringLiteral("Close"));
        QCOMPARE(control(&about, "Command1")->font().pointSizeF(), 9.0);
        QVERIFY(!static_cast<QLabel*>(control(&about, "Picture1"))->pixmap().isNull());
        // Every control lies inside the window.
        for (const char* name :
             {"Picture1", "Label4", "Label5", "lblLink", "Label2", "Label1", "Command1"}) {
            QVERIFY2(about.rect().contains(control(&about, name)->geometry()), name);
        }
    }

    void linkColourFollowsThePointer()
    {
        DialogWorld world;
        frmAbout about(world.context);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QWidget* link = control(&about, "lblLink");
        const QColor initial = about.palette().color(QPalette::ButtonText);
        QCOMPARE(about.linkColour(), initial);
        PaletteChanges changes(link);

        const QPoint emptyArea(4, 60);
        QVERIFY(!about.childAt(emptyArea));
        QTest::mouseMove(&about, emptyArea);
        QTRY_COMPARE(about.linkColour(), QColor(0, 0, 255));
        QCOMPARE(shownColour(&about), QColor(0, 0, 255));

        QTest::mouseMove(link, link->rect().center());
        QTRY_COMPARE(about.linkColour(), QColor(255, 0, 0));
        QTest::mouseMove(link, link->rect().center() + QPoint(2, 0));
        QTest::mouseMove(link, link->rect().center() - QPoint(2, 0));
        QCOMPARE(shownColour(&about), QColor(255, 0, 0));
        QCOMPARE(changes.count, 2); // blue, red: repeated moves change nothing

        // Over other controls the colour stays as it was.
        QWidget* picture = control(&about, "Picture1");
        QTest::mouseMove(picture, picture->rect().center());
        QWidget* mail = control(&about, "Label2");
        QTest::mouseMove(mail, QPoint(3, 3));
        QTest::mouseMove(control(&about, "Command1"), QPoint(5, 5));
        QCoreApplication::processEvents();
        QCOMPARE(about.linkColour(), QColor(255, 0, 0));

        QTest::mouseMove(&about, emptyArea);
        QTRY_COMPARE(about.linkColour(), QColor(0, 0, 255));
        QCOMPARE(changes.count, 3);
    }

    void linksOpenTheirTargets()
    {
        DialogWorld world;
        frmAbout about(world.context);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QWidget* link = control(&about, "lblLink");
        QWidget* mail = control(&about, "Label2");

        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseClick(link, Qt::RightButton, {}, QPoint(3, 3));
        QTest::mouseClick(mail, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseClick(mail, Qt::RightButton, {}, QPoint(3, 3));
        const QStringList expected = {QStringLiteral("https://www.tallowbrookworks.example/"),
                                      QStringLiteral("https://www.tallowbrookworks.example/"),
                                      QStringLiteral("mailto:support@tallowbrookworks.example")};
        QCOMPARE(world.opener.targets, expected);

        // A failure of the opener is explained, here for the mail link.
        world.opener.answer({LinkOpener::Outcome::Kind::Finished, 0});
        world.opener.answer({LinkOpener::Outcome::Kind::Finished, 0});
        world.opener.answer({LinkOpener::Outcome::Kind::Finished, 3});
        QCOMPARE(world.dialogs.messages.size(), size_t(1));
        QCOMPARE(world.dialogs.messages[0].title, QStringLiteral("No Association In Registry"));
    }

    void closeAndSingleInstance()
    {
        DialogWorld world;
        QPointer<frmAbout> about = frmAbout::showSingle(world.context);
        QCOMPARE(frmAbout::showSingle(world.context), about.data());
        QTest::mouseClick(static_cast<QPushButton*>(control(about, "Command1")), Qt::LeftButton);
        QTRY_VERIFY(about.isNull());
    }
};

std::unique_ptr<QObject> makeAboutTest()
{
    return std::make_unique<AboutTest>();
}

} // namespace ov::test

#include "AboutTest.moc"
