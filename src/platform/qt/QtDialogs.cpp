#include "platform/qt/QtDialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace ov {

void QtDialogs::messageBox(QWidget* parent, Icon icon, const QString& title, const QString& text)
{
    QMessageBox::Icon qtIcon = QMessageBox::Information;
    switch (icon) {
    case Icon::Information:
        qtIcon = QMessageBox::Information;
        break;
    case Icon::Exclamation:
        qtIcon = QMessageBox::Warning;
        break;
    case Icon::Stop:
        qtIcon = QMessageBox::Critical;
        break;
    }
    QMessageBox box(qtIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

std::optional<QByteArray> QtDialogs::openFile(QWidget* parent, const QString& title,
                                              const QByteArray& startFolder, const QString& filter)
{
    // Any name may be typed, also of a file that is not there: it becomes an entry as
    // the dialog completes it to a full path.
    QFileDialog dialog(parent, title, QFile::decodeName(startFolder), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOptions(QFileDialog::DontResolveSymlinks | QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().value(0);
    if (chosen.isEmpty())
        return std::nullopt;
    return QFile::encodeName(chosen);
}

std::optional<QByteArray> QtDialogs::chooseFolder(QWidget* parent, const QString& title)
{
    QString chosen =
        QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return std::nullopt;
    return QFile::encodeName(chosen);
}

} // namespace ov
