#pragma once

#include <QFont>
#include <QPointer>
#include <QRadioButton>
#include <QRect>
#include <QScopedValueRollback>
#include <QString>
#include <QWidget>

namespace ov::dialogs {

// The layouts are measured in twips: 15 to a pixel at 96 dpi.
constexpr int px(int twips)
{
    return twips / 15;
}
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

// A font by family and size; the system's sans-serif stands in for a missing family.
QFont windowFont(const QString& family, double points, bool bold = false);

// An option button whose caption wraps onto a second line within its height, as the
// long captions of the security levels need.
class WrappingRadioButton : public QRadioButton
{
public:
    using QRadioButton::QRadioButton;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

// A fixed-size top-level window with only a close button, deleted when it closes. No
// parent: it stays open when the main window closes.
void makeFixedWindow(QWidget& window, const QString& caption, int innerWidthTwips,
                     int innerHeightTwips);

// Shows the one instance of a window, creating it when there is none; an open one is
// only brought forward. A window may serve events while it is being built (reading a
// file): a second command meanwhile gets nothing instead of a second window.
template <typename Window, typename... Args>
Window* showSingle(QPointer<Window>& instance, Args&... args)
{
    static bool creating = false;
    if (!instance) {
        if (creating)
            return nullptr;
        QScopedValueRollback guard(creating, true);
        instance = new Window(args...);
    }
    instance->show();
    instance->raise();
    instance->activateWindow();
    return instance.data();
}

} // namespace ov::dialogs
