#include "ui/Artwork.h"
#include "ui/ProgramTitle.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

// Resources of a static library are linked only when something names them.
static void initArtworkResources()
{
    Q_INIT_RESOURCE(artwork);
}

namespace ov {

namespace {

const QColor kBandLight(0x24, 0x58, 0x9e);
const QColor kBandDark(0x0a, 0x1a, 0x33);
const QColor kStripe(0x3d, 0x78, 0xc4);

QPixmap canvas(const QSize& size, qreal devicePixelRatio)
{
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// DejaVu Sans where it is installed, the application's own family otherwise.
QFont bannerFont(int pixels, bool bold)
{
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("DejaVu Sans"), QApplication::font().family()});
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// The band from light at the left to dark at the right, with four stripes at its right
// end.
void drawBand(QPainter& painter, const QSize& size, int stripeStart)
{
    QLinearGradient band(0, 0, size.width(), 0);
    band.setColorAt(0, kBandLight);
    band.setColorAt(1, kBandDark);
    painter.fillRect(QRect(QPoint(0, 0), size), band);
    painter.setPen(QPen(kStripe, 2));
    const int h = size.height();
    for (int i = 0; i < 4; ++i) {
        const int x = stripeStart + 30 * i;
        painter.drawLine(QPointF(x, h), QPointF(x + h, 0));
    }
}

} // namespace

QIcon programIcon()
{
    initArtworkResources();
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/artwork/ombrevault-%1.png").arg(side), QSize(side, side));
    return icon;
}

QPixmap mainBanner(const QSize& size, qreal devicePixelRatio)
{
    QPixmap pixmap = canvas(size, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    drawBand(painter, size, size.width() - 136);
    painter.drawPixmap(QRect(14, 8, 48, 48), programIcon().pixmap(QSize(48, 48), devicePixelRatio));
    painter.setPen(Qt::white);
    painter.setFont(bannerFont(26, true));
    painter.drawText(QPointF(74, 36), programTitle());
    painter.setPen(QColor(0xb9, 0xd3, 0xf5));
    painter.setFont(bannerFont(12, false));
    painter.drawText(QPointF(76, 54),
                     QStringLiteral("Files and free space destroyed beyond recovery"));
    painter.setPen(QPen(kBandDark, 1));
    painter.drawLine(QPointF(0, size.height() - 0.5), QPointF(size.width(), size.height() - 0.5));
    return pixmap;
}

QPixmap aboutBanner(qreal devicePixelRatio)
{
    const QSize size(550, 28);
    QPixmap pixmap = canvas(size, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawBand(painter, size, 430);
    painter.setPen(Qt::white);
    painter.setFont(bannerFont(18, true));
    painter.drawText(QPointF(8, 21), programTitle());
    return pixmap;
}

QPixmap cautionSign(int side, qreal devicePixelRatio)
{
    QPixmap pixmap = canvas(QSize(side, side), devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 36.0, side / 36.0);
    QPainterPath triangle;
    triangle.moveTo(18, 3);
    triangle.lineTo(34, 32);
    triangle.lineTo(2, 32);
    triangle.closeSubpath();
    painter.setPen(QPen(QColor(0x8a, 0x5a, 0x00), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(0xf2, 0xb1, 0x34));
    painter.drawPath(triangle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x3b, 0x2a, 0x00));
    painter.drawRoundedRect(QRectF(16, 11, 4, 13), 2, 2);
    painter.drawEllipse(QPointF(18, 28), 2, 2);
    return pixmap;
}

QSize EmbossedLabel::sizeHint() const
{
    return QLabel::sizeHint() + QSize(1, 1); // room for the copy beneath
}

void EmbossedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(0, 0, -1, -1);
    const int flags = int(alignment());
    // The copy in the window's own text colour: the label's is the light one.
    const QWidget* window = parentWidget() ? parentWidget() : this;
    painter.setPen(window->palette().color(QPalette::WindowText));
    painter.drawText(area.translated(1, 1), flags, text());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, flags, text());
}

} // namespace ov
