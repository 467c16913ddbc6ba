#include "ui/file/PendingList.h"

#include "platform/Error.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

namespace ov {

PendingList::PendingList(QWidget* parent) : WideList(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragDropMode(QAbstractItemView::DropOnly);
    setAcceptDrops(true);
}

void PendingList::appendEntry(const QByteArray& path)
{
    const QString text = plainPathText(path);
    auto* item = new QListWidgetItem(text);
    item->setData(PathRole, path);
    // The whole path, also where the list cuts it off: the file's name is at its end.
    item->setToolTip(text);
    item->setData(Qt::AccessibleTextRole, text);
    addItem(item);
}

QByteArray PendingList::entry(int index) const
{
    const QListWidgetItem* it = item(index);
    return it ? it->data(PathRole).toByteArray() : QByteArray();
}

std::vector<QByteArray> PendingList::entries() const
{
    std::vector<QByteArray> paths;
    paths.reserve(size_t(count()));
    for (int i = 0; i < count(); ++i)
        paths.push_back(entry(i));
    return paths;
}

void PendingList::setEntries(const std::vector<QByteArray>& paths)
{
    setUpdatesEnabled(false);
    clear();
    for (const QByteArray& path : paths)
        appendEntry(path);
    setUpdatesEnabled(true);
}

bool PendingList::offer(QDropEvent* event) const
{
    const bool accept = acceptsDrag && acceptsDrag(event->mimeData());
    if (accept) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
    return accept;
}

void PendingList::dragEnterEvent(QDragEnterEvent* event)
{
    offer(event);
}

void PendingList::dragMoveEvent(QDragMoveEvent* event)
{
    offer(event);
}

void PendingList::dropEvent(QDropEvent* event)
{
    if (offer(event) && dropped)
        dropped(event->mimeData());
}

QStringList PendingList::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

Qt::DropActions PendingList::supportedDropActions() const
{
    return Qt::CopyAction;
}

} // namespace ov
