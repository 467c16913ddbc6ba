#include "ui/file/clsPicBar.h"

#include "ui/file/PictureBox.h"

#include <QPainter>

namespace ov {

void clsPicBar::setPicBox(PictureBox* box)
{
    m_picBox = box;
    if (m_picBox)
        m_picBox->setAutoRedraw(true);
}

void clsPicBar::BGScroll()
{
    if (!m_picBox || m_picBox->image().isNull())
        return;
    const int s = m_incrementor;
    const int w = m_picBox->innerWidth();
    const QPixmap snapshot = m_picBox->image().copy();
    {
        QPainter painter(&m_picBox->image());
        if (m_picDir == 1) {
            painter.drawPixmap(s, 0, snapshot);
            painter.drawPixmap(0, 0, snapshot, w - s, 0, -1, -1);
        } else {
            painter.drawPixmap(-s, 0, snapshot);
            painter.drawPixmap(w - s, 0, snapshot);
        }
    }
    m_picBox->update();
}

} // namespace ov
