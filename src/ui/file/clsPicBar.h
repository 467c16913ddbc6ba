#pragma once

namespace ov {

class PictureBox;

// Scrolls the picture of a box sideways by a fixed step, wrapping at the box's width:
// the moving band of the File Cleaner while a deletion run works.
class clsPicBar
{
public:
    PictureBox* PicBox() const { return m_picBox; }
    // Stores the box and switches it to a persistent image in pixels.
    void setPicBox(PictureBox* box);

    short ReDraw() const { return m_reDraw; }
    void setReDraw(short value) { m_reDraw = value; }
    short Incrementor() const { return m_incrementor; }
    void setIncrementor(short value) { m_incrementor = value; }
    // 1 scrolls to the right, anything else to the left.
    int PicDir() const { return m_picDir; }
    void setPicDir(int value) { m_picDir = value; }

    // One step: a circular shift of the visible band by Incrementor pixels.
    void BGScroll();

private:
    PictureBox* m_picBox = nullptr;
    short m_reDraw = 0;
    short m_incrementor = 0;
    int m_picDir = 1;
};

} // namespace ov
