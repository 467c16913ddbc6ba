#include "ui/WideList.h"

#include <QEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace ov {

// Every row is as wide as the widest entry, so that the rows stay of one size (a list of
// thousands lays out in one step) and yet no entry is cut short.
class WideList::RowDelegate : public QStyledItemDelegate
{
public:
    explicit RowDelegate(WideList* list) : QStyledItemDelegate(list), m_list(list) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QString text = index.data(Qt::DisplayRole).toString();
        const int margins = size.width() - option.fontMetrics.horizontalAdvance(text);
        size.setWidth(std::max(size.width(), m_list->widestEntry() + margins));
        return size;
    }

private:
    WideList* m_list;
};

WideList::WideList(QWidget* parent) : QListWidget(parent)
{
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new RowDelegate(this));
    QAbstractItemModel* entries = model();
    connect(entries, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { measureRows(first, last); });
    connect(entries, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { forgetRows(first, last); });
    connect(entries, &QAbstractItemModel::dataChanged, this, [this] { m_widestKnown = false; });
    connect(entries, &QAbstractItemModel::modelReset, this, [this] {
        m_widest = 0;
        m_widestKnown = false;
    });
}

WideList::~WideList()
{
    // The list's own destructor clears the entries: nothing of this class may hear it.
    disconnect(model(), nullptr, this, nullptr);
}

void WideList::measureRows(int first, int last)
{
    if (!m_widestKnown)
        return;
    const QFontMetrics metrics(font());
    for (int row = first; row <= last; ++row) {
        if (const QListWidgetItem* entry = item(row))
            m_widest = std::max(m_widest, metrics.horizontalAdvance(entry->text()));
    }
}

void WideList::forgetRows(int first, int last)
{
    if (!m_widestKnown)
        return;
    const QFontMetrics metrics(font());
    for (int row = first; row <= last; ++row) {
        const QListWidgetItem* entry = item(row);
        if (entry && metrics.horizontalAdvance(entry->text()) >= m_widest) {
            m_widestKnown = false; // measured again when next asked
            return;
        }
    }
}

int WideList::widestEntry() const
{
    if (!m_widestKnown) {
        const QFontMetrics metrics(font());
        m_widest = 0;
        for (int row = 0; row < count(); ++row)
            m_widest = std::max(m_widest, metrics.horizontalAdvance(item(row)->text()));
        m_widestKnown = true;
    }
    return m_widest;
}

void WideList::setHorizontalExtent(int pixels)
{
    m_extent = std::max(0, pixels);
    updateGeometries();
}

void WideList::updateGeometries()
{
    QListWidget::updateGeometries();
    QScrollBar* bar = horizontalScrollBar();
    const int beyond = m_extent - viewport()->width();
    if (beyond > bar->maximum())
        bar->setRange(0, beyond);
}

void WideList::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        m_widestKnown = false;
        scheduleDelayedItemsLayout();
    }
    QListWidget::changeEvent(event);
}

} // namespace ov
