#pragma once

#include "ui/WideList.h"

#include <QByteArray>

#include <functional>
#include <vector>

class QMimeData;

namespace ov {

// The pending list: each entry keeps its path as bytes and shows it as text (a name
// that is not valid UTF-8 shows replacement characters but keeps its real bytes).
// Drags are offered to the window, which decides what a drop adds.
class PendingList : public WideList
{
    Q_OBJECT
public:
    static constexpr int PathRole = Qt::UserRole;

    explicit PendingList(QWidget* parent = nullptr);

    void appendEntry(const QByteArray& path);
    QByteArray entry(int index) const;
    std::vector<QByteArray> entries() const;
    void setEntries(const std::vector<QByteArray>& paths);

    // Whether a drag may be dropped (copy) or not; what a drop does.
    std::function<bool(const QMimeData*)> acceptsDrag;
    std::function<void(const QMimeData*)> dropped;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;

private:
    bool offer(QDropEvent* event) const;
};

} // namespace ov
