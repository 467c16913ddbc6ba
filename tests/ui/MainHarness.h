#pragma once

// A main window on a world of fakes, for the tests of the window and of its panels.
#include "ui/UiWorld.h"
#include "ui/file/PendingList.h"
#include "ui/main/frmMain.h"

namespace ov::test {

using Paths = std::vector<QByteArray>;

// A main window on the world's services, the command line given as its arguments.
struct Harness : World
{
    AppContext windowContext;
    std::unique_ptr<frmMain> window;

    explicit Harness(const QList<QByteArray>& args = {}, VolumePlatform* realVolumes = nullptr)
        : windowContext{settings, store,     log,
                        loop,     dialogs,   realVolumes ? *realVolumes : volumes,
                        opener,   dir.path()}
    {
        std::vector<const char*> argv{"ombrevault"};
        for (const QByteArray& arg : args)
            argv.push_back(arg.constData());
        window = std::make_unique<frmMain>(windowContext,
                                           commandLineText(int(argv.size()), argv.data()));
    }
    template <typename T = QWidget> T* child(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }
    bool show() const { return window->show(), QTest::qWaitForWindowExposed(window.get()); }
    Paths entries() const { return window->pendingList()->entries(); }
    QString text(const char* label) const { return child<QLabel>(label)->text(); }
    QStringList counters() const { return {text("Label4"), text("Label5"), text("Label6")}; }
    // Puts files of the temporary folder on the list, writing 3000 bytes into each first.
    void addFiles(const QList<QByteArray>& names, bool write = true) const
    {
        for (const QByteArray& name : names) {
            if (write)
                writeFile(dir.file(name), QByteArray(3000, 'x'));
            window->pendingList()->appendEntry(dir.file(name));
        }
    }
    // The four list buttons and the delete button.
    QList<QPushButton*> listCommands() const
    {
        return child<QGroupBox>("frmFile")->findChildren<QPushButton*>();
    }
    // The panel the mouse meets in the middle of the panels' rectangle.
    QWidget* panelInFront() const
    {
        QWidget* w = window->centralWidget()->childAt(child("frmDisk")->geometry().center());
        while (w && !qobject_cast<QGroupBox*>(w))
            w = w->parentWidget();
        return w;
    }
    // Whether the pointer and the timer are back after a run and the list is open again.
    bool idle() const
    {
        return std::ranges::all_of(listCommands(), &QWidget::isEnabled) && !busy() &&
               !child<QTimer>("Timer2")->isActive();
    }
    // The hourglass over the main window (and over no other window).
    bool busy() const { return window->cursor().shape() == Qt::WaitCursor; }
};

} // namespace ov::test
