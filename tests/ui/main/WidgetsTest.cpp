#include "ui/WideList.h"
#include "ui/main/cTooltip.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

using namespace ov;

class WidgetsTest : public QObject
{
    Q_OBJECT

private slots:
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
