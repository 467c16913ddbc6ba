#pragma once

#include <QIcon>
#include <QLabel>
#include <QPixmap>

namespace ov {

// The program's pictures, drawn from their shapes at the pixel density of the screen
// they are shown on, so that they stay sharp at any scale.

// The program's icon, from the freedesktop sizes of the installed icon.
QIcon programIcon();
// The main window's banner: a blue band with the icon, the name and a line of text.
QPixmap mainBanner(const QSize& size, qreal devicePixelRatio);
// The About box's banner: the band and the name, 550 by 28.
QPixmap aboutBanner(qreal devicePixelRatio);
// The caution sign beside the File Cleaner's advice.
QPixmap cautionSign(int side, qreal devicePixelRatio);

// A label whose text stands in a light colour on a darker copy of itself, moved one
// pixel down and right: legible on a light background as well as on a dark one.
class EmbossedLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ov
