#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

namespace ov {

// A control of the given kind with its caption, object name and place on its parent.
template <typename T>
T* place(QWidget* parent, const char* name, const QString& caption, const QRect& rect)
{
    auto* widget = new T(caption, parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(rect);
    return widget;
}

// The hourglass over one window only, while any of its users wants it; other windows
// keep their pointer.
void setBusyPointer(QWidget* window, bool busy);

} // namespace ov
