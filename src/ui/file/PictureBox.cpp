#include "ui/file/PictureBox.h"

#include "ui/AccessibleLabels.h"

#include <QPainter>

namespace ov {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent)
{
    installLabelAccessibles();
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(1);
}

void PictureBox::setPicture(const QPixmap& picture)
{
    m_picture = picture;
    m_image = QPixmap();
    rebuildImage();
    update();
}

void PictureBox::setAutoRedraw(bool on)
{
    m_autoRedraw = on;
    if (on && m_image.size() != contentsRect().size())
        rebuildImage();
}

void PictureBox::rebuildImage()
{
    const QSize size = contentsRect().size();
    if (size.isEmpty()) {
        m_image = QPixmap();
        return;
    }
    QPixmap image(size);
    image.fill(palette().color(QPalette::Window));
    QPainter painter(&image);
    if (!m_image.isNull())
        painter.drawPixmap(0, 0, m_image);
    else if (!m_picture.isNull())
        painter.drawPixmap(0, 0, m_picture);
    painter.end();
    m_image = image;
}

void PictureBox::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    if (m_image.size() != contentsRect().size())
        rebuildImage();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawPixmap(contentsRect().topLeft(), m_image);
}

QImage gradientPicture()
{
    constexpr int width = 347;
    constexpr int height = 15;
    constexpr int peakLeft = 172;
    constexpr int peakRight = 173;
    constexpr int peak = 254;
    constexpr int end = 1;
    QImage image(width, height, QImage::Format_RGB32);
    for (int x = 0; x < width; ++x) {
        int level;
        if (x <= peakLeft)
            level = (x * peak + peakLeft / 2) / peakLeft;
        else if (x == peakRight)
            level = peak;
        else {
            const int steps = width - 1 - peakRight;
            const int fall = peak - end;
            level = peak - ((x - peakRight) * fall + steps / 2) / steps;
        }
        const QRgb pixel = qRgb(level, level, 255);
        for (int y = 0; y < height; ++y)
            image.setPixel(x, y, pixel);
    }
    return image;
}

} // namespace ov
