#include "ui/main/PictureBox.h"
#include "ui/main/cTooltip.h"
#include "ui/main/clsPicBar.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

using namespace ov;

Q_DECLARE_METATYPE(QList<int>)

namespace {

// A box 20 pixels wide whose column x shows red x * 10, so columns can be read back.
void numberColumns(PictureBox& box)
{
    box.setFrameStyle(QFrame::NoFrame);
    box.resize(20, 15);
    QImage picture(20, 15, QImage::Format_RGB32);
    for (int x = 0; x < 20; ++x)
        for (int y = 0; y < 15; ++y)
            picture.setPixel(x, y, qRgb(x * 10, 0, 255));
    box.setPicture(QPixmap::fromImage(picture));
}

QList<int> columns(const PictureBox& box)
{
    const QImage image = box.image().toImage();
    QList<int> shown;
    for (int x = 0; x < image.width(); ++x)
        shown << qRed(image.pixel(x, 7)) / 10;
    return shown;
}

QList<int> range(int from, int to)
{
    QList<int> values;
    for (int i = from; i <= to; ++i)
        values << i;
    return values;
}

// A window with a button, for the tips.
struct TipStage
{
    QWidget window;
    QPushButton* button;
    cTooltip tooltip;

    explicit TipStage(QPoint windowAt = {100, 100})
    {
        window.setGeometry(QRect(windowAt, QSize(200, 100)));
        button = new QPushButton(QStringLiteral("Tool"), &window);
        button->setGeometry(50, 30, 100, 30);
        auto* other = new QPushButton(QStringLiteral("Elsewhere"), &window);
        other->setObjectName(QStringLiteral("other"));
        other->setGeometry(10, 70, 60, 25);
        window.show();
        tooltip.Create(&window);
    }
    bool tipShown() const { return tooltip.tipWindow() && tooltip.tipWindow()->isVisible(); }
    QRect tip() const { return tooltip.tipWindow()->geometry(); }
    void hover() { QTest::mouseMove(button, button->rect().center()); }
    void leave() { QTest::mouseMove(window.findChild<QWidget*>(QStringLiteral("other"))); }
};

} // namespace

class WidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void gradientFollowsTheRule();
    void bgScrollShiftsTheBand_data();
    void bgScrollShiftsTheBand();
    void picBarStartsPointingRight();
    void tooltipPropertiesLimitAndReadBack();
    void tipShowsAfterTheDelayAndHidesAfterTheVisibleTime();
    void tipWrapsAtTheMaximumWidth();
    void tipStaysOnTheScreen();
};

void WidgetsTest::gradientFollowsTheRule()
{
    const QImage picture = gradientPicture();
    QCOMPARE(picture.size(), QSize(347, 15));
    auto level = [&](int x) { return qRed(picture.pixel(x, 0)); };
    QCOMPARE(level(0), 0);
    QCOMPARE(level(172), 254);
    QCOMPARE(level(173), 254);
    QCOMPARE(level(346), 1);
    for (int x = 0; x < 347; ++x) {
        for (int y = 0; y < 15; ++y) {
            const QRgb pixel = picture.pixel(x, y);
            QCOMPARE(qBlue(pixel), 255);
            QCOMPARE(qGreen(pixel), qRed(pixel));
            QCOMPARE(qRed(pixel), level(x)); // every row alike
        }
        if (x > 0 && x <= 172)
            QVERIFY(level(x) - level(x - 1) == 1 || level(x) - level(x - 1) == 2);
        if (x > 173)
            QVERIFY(level(x - 1) - level(x) == 1 || level(x - 1) - level(x) == 2);
    }
}

void WidgetsTest::bgScrollShiftsTheBand_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("right") << 1 << 5 << 1 << range(15, 19) + range(0, 14);
    QTest::newRow("left") << 2 << 5 << 1 << range(5, 19) + range(0, 4);
    QTest::newRow("left, any other direction") << 0 << 5 << 1 << range(5, 19) + range(0, 4);
    QTest::newRow("step 0") << 1 << 0 << 3 << range(0, 19);
    QTest::newRow("resumes where it stood") << 1 << 5 << 2 << range(10, 19) + range(0, 9);
    QTest::newRow("whole width") << 1 << 20 << 1 << range(0, 19);
}

void WidgetsTest::bgScrollShiftsTheBand()
{
    QFETCH(int, direction);
    QFETCH(int, step);
    QFETCH(int, steps);
    QFETCH(QList<int>, expected);
    PictureBox box;
    numberColumns(box);
    clsPicBar bar;
    bar.setPicBox(&box);
    bar.setPicDir(direction);
    bar.setIncrementor(short(step));
    QVERIFY(box.autoRedraw());
    QCOMPARE(columns(box), range(0, 19));
    for (int i = 0; i < steps; ++i)
        bar.BGScroll();
    QCOMPARE(columns(box), expected);
}

void WidgetsTest::picBarStartsPointingRight()
{
    clsPicBar bar;
    QCOMPARE(bar.PicDir(), 1);
    QCOMPARE(bar.Incrementor(), short(0));
    QCOMPARE(bar.ReDraw(), short(0));
    QVERIFY(!bar.PicBox());
    bar.BGScroll(); // without a box: nothing to draw on, no crash
    bar.setReDraw(-1);
    QCOMPARE(bar.ReDraw(), short(-1));
}

void WidgetsTest::tooltipPropertiesLimitAndReadBack()
{
    cTooltip tooltip;
    QCOMPARE(tooltip.MaxWidth(), 300);
    QCOMPARE(tooltip.DelayTime(), 0); // no window yet
    QWidget parent;
    tooltip.Create(&parent);

    int time = 40000;
    tooltip.setVisibleTime(time);
    QCOMPARE(time, 32767);
    QCOMPARE(tooltip.VisibleTime(), 32767);
    time = -5;
    tooltip.setVisibleTime(time);
    QCOMPARE(time, 0);
    QCOMPARE(tooltip.VisibleTime(), 0);
    time = 400;
    tooltip.setDelayTime(time);
    QCOMPARE(time, 400);
    QCOMPARE(tooltip.DelayTime(), 400);
    time = 99999;
    tooltip.setDelayTime(time);
    QCOMPARE(tooltip.DelayTime(), 32767);

    tooltip.setMaxWidth(-1); // no range check
    QCOMPARE(tooltip.MaxWidth(), -1);

    tooltip.Destroy();
    QCOMPARE(tooltip.DelayTime(), 0);
    QCOMPARE(tooltip.VisibleTime(), 0);
    tooltip.Destroy(); // a second time has no effect
    QVERIFY(!tooltip.tipWindow());
}

void WidgetsTest::tipShowsAfterTheDelayAndHidesAfterTheVisibleTime()
{
    TipStage stage;
    QVERIFY(QTest::qWaitForWindowExposed(&stage.window));
    int delay = 120;
    stage.tooltip.setDelayTime(delay);
    int visible = 300;
    stage.tooltip.setVisibleTime(visible);
    stage.tooltip.AddControl(stage.button, QStringLiteral("Save & go"), true);

    QElapsedTimer clock;
    clock.start();
    stage.hover();
    QVERIFY(!stage.tipShown());
    QTRY_VERIFY_WITH_TIMEOUT(stage.tipShown(), 5000);
    const qint64 shownAt = clock.elapsed();
    QVERIFY2(shownAt >= delay - 1, qPrintable(QString::number(shownAt)));
    QCOMPARE(stage.tooltip.shownText(), QStringLiteral("Save & go")); // "&" kept as it is

    // Centred below the control.
    const QRect control(stage.button->mapToGlobal(QPoint(0, 0)), stage.button->size());
    QVERIFY(qAbs(stage.tip().center().x() - control.center().x()) <= 1);
    QVERIFY(stage.tip().top() > control.bottom());
    QVERIFY(stage.tip().top() - control.bottom() <= 4);

    QTRY_VERIFY_WITH_TIMEOUT(!stage.tipShown(), 5000);
    const qint64 hiddenAt = clock.elapsed();
    QVERIFY2(hiddenAt - shownAt >= visible - 1, qPrintable(QString::number(hiddenAt - shownAt)));

    // Leaving and coming back shows it again; leaving hides it at once.
    stage.leave();
    stage.hover();
    QTRY_VERIFY_WITH_TIMEOUT(stage.tipShown(), 5000);
    stage.leave();
    QVERIFY(!stage.tipShown());
}

void WidgetsTest::tipWrapsAtTheMaximumWidth()
{
    const QString longText =
        QStringLiteral("Add all files in a folder to the list of files to be deleted, and then "
                       "some more words so that the text is far wider than four hundred pixels.");
    TipStage stage;
    QVERIFY(QTest::qWaitForWindowExposed(&stage.window));
    stage.tooltip.Destroy();
    stage.tooltip.setMaxWidth(400); // before Create: the new window gets it
    stage.tooltip.Create(&stage.window);
    int delay = 10;
    stage.tooltip.setDelayTime(delay);
    stage.tooltip.AddControl(stage.button, longText, true);
    stage.hover();
    QTRY_VERIFY_WITH_TIMEOUT(stage.tipShown(), 5000);
    const QFontMetrics metrics(stage.button->font());
    QVERIFY(metrics.horizontalAdvance(longText) > 400);
    QVERIFY(stage.tip().width() <= 400);
    QVERIFY(stage.tip().width() > 300); // 400, not the initial 300
    QVERIFY(stage.tip().height() >= 2 * metrics.height());

    // A narrower limit while shown: at most that wide, more lines.
    const int twoLines = stage.tip().height();
    stage.tooltip.setMaxWidth(150);
    QVERIFY(stage.tip().width() <= 150);
    QVERIFY(stage.tip().height() > twoLines);

    // A short text stays on one line, narrower than the limit.
    stage.leave();
    TipStage shortStage;
    shortStage.tooltip.setDelayTime(delay);
    shortStage.tooltip.AddControl(shortStage.button, QStringLiteral("Clear"), true);
    shortStage.hover();
    QTRY_VERIFY_WITH_TIMEOUT(shortStage.tipShown(), 5000);
    QVERIFY(shortStage.tip().height() < 2 * metrics.height());
    QVERIFY(shortStage.tip().width() < 150);
}

void WidgetsTest::tipStaysOnTheScreen()
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // The window's right part and bottom lie at the screen's right and bottom edges.
    TipStage stage(QPoint(screen.right() - 160, screen.bottom() - 70));
    QVERIFY(QTest::qWaitForWindowExposed(&stage.window));
    int delay = 10;
    stage.tooltip.setDelayTime(delay);
    stage.tooltip.AddControl(
        stage.button, QStringLiteral("A tip far wider than the room right of the control."), true);
    stage.hover();
    QTRY_VERIFY_WITH_TIMEOUT(stage.tipShown(), 5000);
    QVERIFY(screen.contains(stage.tip()));
    // No room below: above the control.
    QVERIFY(stage.tip().bottom() < stage.button->mapToGlobal(QPoint(0, 0)).y());
}

QTEST_MAIN(WidgetsTest)
#include "WidgetsTest.moc"
