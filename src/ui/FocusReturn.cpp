#include "ui/FocusReturn.h"

#include "ui/Stacking.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace ov {

namespace {

bool canHaveFocus(const QWidget* control, const QWidget* window)
{
    return control && control->window() == window && control->isEnabled() &&
           control->isVisibleTo(window) && control->focusPolicy() != Qt::NoFocus &&
           !isCovered(control);
}

void settle(QWidget* window, QWidget* control, QWidget* fallback)
{
    if (!window->isVisible())
        return;
    window->raise();
    window->activateWindow();
    QWidget* target = canHaveFocus(control, window)    ? control
                      : canHaveFocus(fallback, window) ? fallback
                                                       : nullptr;
    if (target)
        target->setFocus(Qt::ActiveWindowFocusReason);
}

} // namespace

void giveFocusBack(QWidget* window, QWidget* control, QWidget* fallback)
{
    if (!window)
        return;
    settle(window, control, fallback);
    // The window system may hand the activation elsewhere once more as the dialog's
    // window goes: looked at again when that has been served.
    QTimer::singleShot(0, window,
                       [window = QPointer<QWidget>(window), control = QPointer<QWidget>(control),
                        fallback = QPointer<QWidget>(fallback)] {
                           if (window && QApplication::activeModalWidget() == nullptr &&
                               (!window->isActiveWindow() || !window->focusWidget()))
                               settle(window, control, fallback);
                       });
}

FocusReturningDialogs::FocusReturningDialogs(Dialogs& dialogs, std::function<QWidget*()> fallback)
    : m_dialogs(dialogs), m_fallback(std::move(fallback))
{}

template <class Show> auto FocusReturningDialogs::around(QWidget* parent, Show&& show)
{
    QPointer<QWidget> window = parent ? parent->window() : nullptr;
    QPointer<QWidget> control = window ? window->focusWidget() : nullptr;
    struct Back
    {
        QPointer<QWidget>& window;
        QPointer<QWidget>& control;
        const std::function<QWidget*()>& fallback;
        ~Back() { giveFocusBack(window, control, fallback ? fallback() : nullptr); }
    } back{window, control, m_fallback};
    return show();
}

void FocusReturningDialogs::messageBox(QWidget* parent, Icon icon, const QString& title,
                                       const QString& text)
{
    around(parent, [&] { m_dialogs.messageBox(parent, icon, title, text); });
}

std::optional<QByteArray> FocusReturningDialogs::openFile(QWidget* parent, const QString& title,
                                                          const QByteArray& startFolder,
                                                          const QString& filter)
{
    return around(parent, [&] { return m_dialogs.openFile(parent, title, startFolder, filter); });
}

std::optional<QByteArray> FocusReturningDialogs::chooseFolder(QWidget* parent, const QString& title)
{
    return around(parent, [&] { return m_dialogs.chooseFolder(parent, title); });
}

} // namespace ov
