#pragma once

#include "platform/Dialogs.h"

#include <functional>

class QWidget;

namespace ov {

// Makes `window` the active window again and gives the focus to `control` when it can
// take it, else to `fallback`. A dialog that closes may leave no window active (a
// screen reader's listener delays the window system's own hand-back): then Tab, Escape
// and the screen reader all go dead.
void giveFocusBack(QWidget* window, QWidget* control, QWidget* fallback);

// The dialogs of one window, each followed by giveFocusBack: the control that opened
// the dialog has the focus again, or the window's `fallback` control when it cannot.
class FocusReturningDialogs : public Dialogs
{
public:
    FocusReturningDialogs(Dialogs& dialogs, std::function<QWidget*()> fallback);

    void messageBox(QWidget* parent, Icon icon, const QString& title, const QString& text) override;
    std::optional<QByteArray> openFile(QWidget* parent, const QString& title,
                                       const QByteArray& startFolder,
                                       const QString& filter) override;
    std::optional<QByteArray> chooseFolder(QWidget* parent, const QString& title) override;

private:
    template <class Show> auto around(QWidget* parent, Show&& show);

    Dialogs& m_dialogs;
    std::function<QWidget*()> m_fallback;
};

} // namespace ov
