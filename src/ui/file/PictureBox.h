#pragma once

#include <QFrame>
#include <QImage>
#include <QPixmap>

namespace ov {

// A sunken box showing a picture. With a persistent image, whatever is drawn on
// image() stays and is repainted from it; its size is the box's inner size.
class PictureBox : public QFrame
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    // The picture the box starts from, drawn at the top left of the persistent image.
    void setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return m_picture; }

    // Switches to a persistent image of the inner size, started from what is shown now.
    void setAutoRedraw(bool on);
    bool autoRedraw() const { return m_autoRedraw; }

    // The persistent image; draw on it, then call update().
    QPixmap& image() { return m_image; }
    const QPixmap& image() const { return m_image; }
    int innerWidth() const { return contentsRect().width(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuildImage();

    QPixmap m_picture;
    QPixmap m_image;
    bool m_autoRedraw = false;
};

// The gradient of the progress bar: 347 x 15 pixels, blue 255 everywhere, red = green
// rising evenly from 0 at column 0 to 254 at columns 172 and 173, then falling evenly
// to 1 at column 346.
QImage gradientPicture();

} // namespace ov
