#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class QWidget;

namespace ov {

// The modal dialogs of the window, behind an interface so tests can answer them.
class Dialogs
{
public:
    enum class Icon
    {
        Information,
        Exclamation,
        Stop
    };

    virtual ~Dialogs() = default;
    // A message box with a single OK button.
    virtual void messageBox(QWidget* parent, Icon icon, const QString& title,
                            const QString& text) = 0;
    // The open-file dialog; the chosen path as bytes, or nothing when cancelled.
    virtual std::optional<QByteArray> openFile(QWidget* parent, const QString& title,
                                               const QByteArray& startFolder,
                                               const QString& filter) = 0;
    // The folder dialog; the chosen folder, or nothing when cancelled.
    virtual std::optional<QByteArray> chooseFolder(QWidget* parent, const QString& title) = 0;
};

} // namespace ov
