#include "ui/WideList.h"
#include "ui/main/PictureBox.h"
#include "ui/main/cTooltip.h"
#include "ui/main/clsPicBar.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QPushButton>
#include <QtTest>

using namespace ov;

class WidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void gradientFollowsTheRule()
    {
        // Blue 255, red = green, every row alike; rising by 1 or 2 from 0 to 254 at columns
        // 172 and 173, then falling by 1 or 2 to 1 at column 346.
        const QImage picture = gradientPicture();
        QCOMPARE(picture.size(), QSize(347, 15));
        const auto level = [&](int x) { return qRed(picture.pixel(x, 0)); };
        QCOMPARE((QList<int>{level(0), level(172), level(173), level(346)}),
                 (QList<int>{0, 254, 254, 1}));
        for (int x = 0; x < 347; ++x) {
            for (int y = 0; y < 15; ++y)
                QCOMPARE(picture.pixel(x, y), qRgb(level(x), level(x), 255));
            const int step = x == 0 || x == 173 ? 1
                             : x < 173          ? level(x) - level(x - 1)
                                                : level(x - 1) - level(x);
            QVERIFY2(step == 1 || step == 2, qPrintable(QString::number(x)));
        }
    }

    void bgScrollShiftsTheBand_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("first"); // the picture's column shown leftmost, the rest follow
        QTest::newRow("right") << 1 << 5 << 1 << 15;
        QTest::newRow("right, resumes where it stood") << 1 << 5 << 2 << 10;
        QTest::newRow("left") << 2 << 5 << 1 << 5;
        QTest::newRow("left, any other direction") << 0 << 5 << 1 << 5;
        QTest::newRow("step 0") << 1 << 0 << 3 << 0;
        QTest::newRow("whole width") << 1 << 20 << 1 << 0;
    }
    void bgScrollShiftsTheBand()
    {
        QFETCH(int, direction);
        QFETCH(int, step);
        QFETCH(int, steps);
        QFETCH(int, first);
        // A box 20 pixels wide whose column x shows red x * 10, so columns can be read back.
        PictureBox box;
        box.setFrameStyle(QFrame::NoFrame);
        box.resize(20, 15);
        QImage picture(20, 15, QImage::Format_RGB32);
        for (int x = 0; x < 20; ++x)
            QPainter(&picture).fillRect(x, 0, 1, 15, QColor(x * 10, 0, 255));
        box.setPicture(QPixmap::fromImage(picture));
        clsPicBar bar;
        bar.BGScroll(); // without a box: nothing to draw on
        bar.setPicBox(&box);
        bar.setPicDir(direction);
        bar.setIncrementor(short(step));
        for (int i = 0; i < steps; ++i)
            bar.BGScroll();
        const QImage shown = box.image().toImage();
        QCOMPARE(shown.width(), 20);
        for (int x = 0; x < 20; ++x)
            QCOMPARE(qRed(shown.pixel(x, 7)) / 10, (first + x) % 20);
    }

    // The list keeps track of its widest entry however entries come and go.
    void wideListKnowsItsWidestEntry()
    {
        WideList list;
        const QFontMetrics metrics(list.font());
        const auto width = [&](const char* text) { return metrics.horizontalAdvance(text); };
        QCOMPARE(list.widestEntry(), 0);
        list.addItems({"mm", "a much longer entry", "mid entry"});
        QCOMPARE(list.widestEntry(), width("a much longer entry"));
        delete list.takeItem(1);
        QCOMPARE(list.widestEntry(), width("mid entry"));
        list.insertItem(0, "the widest of them all, first");
        QCOMPARE(list.widestEntry(), width("the widest of them all, first"));
        list.item(0)->setText("x");
        QCOMPARE(list.widestEntry(), width("mid entry"));
        QFont larger = list.font();
        larger.setPointSizeF(larger.pointSizeF() * 2);
        list.setFont(larger);
        QCOMPARE(list.widestEntry(), QFontMetrics(larger).horizontalAdvance("mid entry"));
        list.clear();
        QCOMPARE(list.widestEntry(), 0);
    }

    void tooltipPropertiesLimitAndReadBack()
    {
        cTooltip tooltip;
        QCOMPARE(tooltip.MaxWidth(), 300);
        QCOMPARE(tooltip.DelayTime(), 0); // no window yet
        QWidget parent;
        tooltip.Create(&parent);
        // Limited, written back, read back; the two times apart from each other.
        const std::pair<int, int> limits[] = {{40000, 32767}, {-5, 0}, {400, 400}, {32767, 32767}};
        for (int i = 0; i < 4; ++i) {
            auto [visible, visibleKept] = limits[i];
            auto [delay, delayKept] = limits[3 - i];
            tooltip.setVisibleTime(visible);
            tooltip.setDelayTime(delay);
            QCOMPARE((QList<int>{visible, tooltip.VisibleTime(), delay, tooltip.DelayTime()}),
                     (QList<int>{visibleKept, visibleKept, delayKept, delayKept}));
        }
        tooltip.setMaxWidth(-1); // no range check
        QCOMPARE(tooltip.MaxWidth(), -1);
        tooltip.Destroy();
        QCOMPARE(tooltip.DelayTime() + tooltip.VisibleTime(), 0);
        tooltip.Destroy(); // a second time has no effect
        QVERIFY(!tooltip.tipWindow());
    }

    void tipTimingWidthAndPlace()
    {
        QWidget window;
        window.setGeometry(100, 100, 200, 100);
        auto* button = new QPushButton(QStringLiteral("Tool"), &window);
        button->setGeometry(50, 30, 100, 30);
        auto* other = new QPushButton(QStringLiteral("Elsewhere"), &window);
        other->setGeometry(10, 70, 60, 25);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        cTooltip tooltip;
        tooltip.Create(&window);
        int delay = 120, visible = 300;
        tooltip.setDelayTime(delay);
        tooltip.setVisibleTime(visible);
        const QString text = QStringLiteral("Save & go: a tip with so many words in it that its "
                                            "text is far wider than three hundred pixels.");
        tooltip.AddControl(button, text, true);
        const auto shown = [&] { return tooltip.tipWindow() && tooltip.tipWindow()->isVisible(); };

        QElapsedTimer clock;
        clock.start();
        QTest::mouseMove(button, button->rect().center());
        QVERIFY(!shown());
        QTRY_VERIFY_WITH_TIMEOUT(shown(), 5000);
        const qint64 shownAt = clock.elapsed();
        QVERIFY2(shownAt >= delay - 1, qPrintable(QString::number(shownAt)));
        QCOMPARE(tooltip.shownText(), text); // "&" kept as it is

        // Wrapped at the maximum width, centred just below the control.
        const QRect tip = tooltip.tipWindow()->geometry();
        const QFontMetrics metrics(button->font());
        QVERIFY(tip.width() <= 300 && tip.width() > 200);
        QVERIFY(tip.height() >= 2 * metrics.height());
        const QRect control(button->mapToGlobal(QPoint(0, 0)), button->size());
        QVERIFY(qAbs(tip.center().x() - control.center().x()) <= 1);
        QVERIFY(tip.top() > control.bottom() && tip.top() - control.bottom() <= 4);
        tooltip.setMaxWidth(150); // a narrower limit while shown: more lines
        QVERIFY(tooltip.tipWindow()->width() <= 150);
        QVERIFY(tooltip.tipWindow()->height() > tip.height());

        QTRY_VERIFY_WITH_TIMEOUT(!shown(), 5000);
        QVERIFY2(clock.elapsed() - shownAt >= visible - 1,
                 qPrintable(QString::number(clock.elapsed() - shownAt)));
        // Leaving and coming back shows it again; leaving hides it at once.
        QTest::mouseMove(other);
        QTest::mouseMove(button, button->rect().center());
        QTRY_VERIFY_WITH_TIMEOUT(shown(), 5000);
        QTest::mouseMove(other);
        QVERIFY(!shown());
    }
};

QTEST_MAIN(WidgetsTest)
#include "WidgetsTest.moc"
