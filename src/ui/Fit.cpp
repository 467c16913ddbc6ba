#include "ui/Fit.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QRect>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace ov {

namespace {

// The place a control was first given, kept so that a second fit starts from it again.
constexpr char kFirstRect[] = "ov_firstRect";
// Two controls whose edges meet within this many pixels count as neighbours.
constexpr int kTouch = 3;

QRect firstRect(QWidget* widget)
{
    QVariant kept = widget->property(kFirstRect);
    if (!kept.isValid()) {
        kept = widget->geometry();
        widget->setProperty(kFirstRect, kept);
    }
    return kept.toRect();
}

// Controls that show a window onto more content than they hold keep their size.
bool keepsItsSize(const QWidget* widget)
{
    return qobject_cast<const QAbstractScrollArea*>(widget) ||
           qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget);
}

// A container whose controls are placed by hand inside it.
bool placesByHand(const QWidget* widget)
{
    if (widget->layout() || qobject_cast<const QAbstractButton*>(widget) ||
        qobject_cast<const QLabel*>(widget) || keepsItsSize(widget))
        return false;
    const QList<QWidget*> inside = widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    return std::any_of(inside.begin(), inside.end(),
                       [](const QWidget* child) { return !child->isWindow(); });
}

bool leftOf(const QRect& a, const QRect& b)
{
    return a.left() < b.left() && a.left() + a.width() <= b.left() + kTouch &&
           a.top() < b.top() + b.height() && b.top() < a.top() + a.height();
}

bool above(const QRect& a, const QRect& b)
{
    return a.top() < b.top() && a.top() + a.height() <= b.top() + kTouch &&
           a.left() < b.left() + b.width() && b.left() < a.left() + a.width();
}

// One lies over the other, not merely touching it: they share at least half of the
// smaller one.
bool stacked(const QRect& a, const QRect& b)
{
    const QRect shared = a.intersected(b);
    const auto area = [](const QRect& r) { return qint64(r.width()) * r.height(); };
    return !shared.isEmpty() && 2 * area(shared) >= std::min(area(a), area(b));
}

} // namespace

QSize neededSize(const QWidget* widget, const QSize& least)
{
    if (keepsItsSize(widget))
        return least.expandedTo(QSize(0, widget->minimumSizeHint().height()));
    if (QLayout* layout = widget->layout()) {
        const int width = std::max(least.width(), widget->minimumSizeHint().width());
        const int height = layout->hasHeightForWidth() ? widget->heightForWidth(width)
                                                       : widget->minimumSizeHint().height();
        return QSize(width, std::max(least.height(), height));
    }
    if (widget->hasHeightForWidth())
        return QSize(least.width(),
                     std::max(least.height(), widget->heightForWidth(least.width())));
    // A picture box shows what fits of its picture.
    return least.expandedTo(widget->sizeHint().boundedTo(widget->maximumSize()));
}

QSize fitToText(QWidget* container)
{
    struct Item
    {
        QWidget* widget;
        QRect first;
        QSize size;
        QPoint at;
    };
    firstRect(container); // its first size, kept before anything grows
    std::vector<Item> items;
    for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow())
            continue;
        const QRect first = firstRect(child);
        QSize size;
        if (placesByHand(child)) {
            child->resize(first.size()); // its controls measure themselves at home
            size = fitToText(child).expandedTo(child->minimumSizeHint());
        } else {
            size = neededSize(child, first.size());
        }
        items.push_back({child, first, size, first.topLeft()});
    }

    // Each control moves by as much as the right (lower) edge of its neighbour on the left
    // (above) has moved; lined-up controls move together; controls stacked on each other
    // that end on the same edge keep ending on it, so the one in front still covers the
    // other. Repeated until nothing moves, which a chain of n controls reaches within n
    // rounds.
    for (size_t round = 0; round <= items.size() + 1; ++round) {
        bool moved = false;
        for (Item& item : items) {
            for (const Item& other : items) {
                if (&other == &item || !stacked(other.first, item.first))
                    continue;
                const auto firstEnd = [](const Item& i) { return i.first.bottomRight(); };
                const QPoint end = other.at + QPoint(other.size.width(), other.size.height());
                const QPoint mine = item.at + QPoint(item.size.width(), item.size.height());
                if (firstEnd(other).x() == firstEnd(item).x() && end.x() > mine.x()) {
                    item.size.rwidth() += end.x() - mine.x();
                    moved = true;
                }
                if (firstEnd(other).y() == firstEnd(item).y() && end.y() > mine.y()) {
                    item.size.rheight() += end.y() - mine.y();
                    moved = true;
                }
            }
            QPoint shift(0, 0);
            for (const Item& other : items) {
                const QPoint grown = other.at + QPoint(other.size.width(), other.size.height()) -
                                     other.first.topLeft() -
                                     QPoint(other.first.width(), other.first.height());
                if (leftOf(other.first, item.first))
                    shift.setX(std::max(shift.x(), grown.x()));
                if (above(other.first, item.first))
                    shift.setY(std::max(shift.y(), grown.y()));
                if (other.first.left() == item.first.left())
                    shift.setX(std::max(shift.x(), other.at.x() - other.first.left()));
                if (other.first.top() == item.first.top())
                    shift.setY(std::max(shift.y(), other.at.y() - other.first.top()));
            }
            const QPoint at = item.first.topLeft() + shift;
            if (at != item.at) {
                item.at = at;
                moved = true;
            }
        }
        if (!moved)
            break;
    }

    // The container keeps its first size; where its controls grow past it, it keeps a
    // margin beyond them as wide as the narrower of its margins on that axis.
    const QSize firstSize = firstRect(container).size();
    int firstLeft = firstSize.width(), firstTop = firstSize.height();
    int firstRight = 0, firstBottom = 0, right = 0, bottom = 0;
    for (const Item& item : items) {
        item.widget->setGeometry(QRect(item.at, item.size));
        firstLeft = std::min(firstLeft, item.first.left());
        firstTop = std::min(firstTop, item.first.top());
        firstRight = std::max(firstRight, item.first.left() + item.first.width());
        firstBottom = std::max(firstBottom, item.first.top() + item.first.height());
        right = std::max(right, item.at.x() + item.size.width());
        bottom = std::max(bottom, item.at.y() + item.size.height());
    }
    const int marginRight = std::clamp(firstSize.width() - firstRight, 0, std::max(0, firstLeft));
    const int marginBottom = std::clamp(firstSize.height() - firstBottom, 0, std::max(0, firstTop));
    return firstSize.expandedTo(QSize(right + marginRight, bottom + marginBottom));
}

} // namespace ov
