#pragma once

#include <QListWidget>

namespace ov {

// A list box that can always be scrolled sideways to the end of its widest entry, however
// the entries came in and whichever came first. A horizontal extent may be set on top,
// as list boxes keep one: the list then scrolls at least that far, also after the entries
// that made it wide are gone.
class WideList : public QListWidget
{
    Q_OBJECT
public:
    explicit WideList(QWidget* parent = nullptr);
    ~WideList() override;

    // The width in pixels the list scrolls to at least, when wider than the list.
    void setHorizontalExtent(int pixels);
    int horizontalExtent() const { return m_extent; }
    // The width of the widest entry's text in the list's font.
    int widestEntry() const;

protected:
    void updateGeometries() override;
    void changeEvent(QEvent* event) override;

private:
    class RowDelegate;
    void measureRows(int first, int last);
    void forgetRows(int first, int last);

    int m_extent = 0;
    mutable int m_widest = 0;
    mutable bool m_widestKnown = true;
};

} // namespace ov
