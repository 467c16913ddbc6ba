// The moving band of the File Cleaner: its picture and its steps.
#include "ui/file/PictureBox.h"
#include "ui/file/clsPicBar.h"

#include <QPainter>
#include <QtTest>

using namespace ov;

class BandTest : public QObject
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
};

QTEST_MAIN(BandTest)
#include "BandTest.moc"
