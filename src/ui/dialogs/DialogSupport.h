#pragma once

#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QRadioButton>
#include <QRect>
#include <QScopedValueRollback>
#include <QString>
#include <QWidget>

class QPushButton;

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

// A font by family and size; where the family is not installed, the application's own
// family stands in for it at that size.
QFont windowFont(const QString& family, double points, bool bold = false);

// An option button whose caption wraps onto further lines within its width, as the long
// captions of the security levels need; it is as high as its lines.
class WrappingRadioButton : public QRadioButton
{
public:
    using QRadioButton::QRadioButton;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QRect captionArea(const QRect& rect) const;
};

// A fixed-size dialog with only a close button, deleted when it closes. No parent and no
// modality: it stays open when the main window closes and leaves it usable.
void makeFixedWindow(QDialog& window, const QString& caption, int innerWidthTwips,
                     int innerHeightTwips);
// Grows the dialog and its controls where the font needs more room than the twips give.
void fitWindow(QDialog& window);
// Enter presses this button wherever the focus is; Space presses the focused one.
void makeDefaultButton(QDialog& window, QPushButton* button);

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
