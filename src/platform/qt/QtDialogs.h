#pragma once

#include "platform/Dialogs.h"

namespace ov {

// The real dialogs: QMessageBox and QFileDialog.
class QtDialogs : public Dialogs
{
public:
    void messageBox(QWidget* parent, Icon icon, const QString& title, const QString& text) override;
    std::optional<QByteArray> openFile(QWidget* parent, const QString& title,
                                       const QByteArray& startFolder,
                                       const QString& filter) override;
    std::optional<QByteArray> chooseFolder(QWidget* parent, const QString& title) override;
};

} // namespace ov
