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

} // namespace ov
