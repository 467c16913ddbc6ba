#pragma once

#include "ui/AppContext.h"
#include "ui/FocusReturn.h"
#include "ui/main/CommandLine.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QMimeData;

namespace ov {

class DiskPanel;
class FilePanel;
class PendingList;
class cTooltip;

// The program's main window: the menu, the banner and the two panels over the same
// rectangle, the Disk Cleaner in front at start-up and the File Cleaner behind it. Only
// the panel in front takes the keyboard.
class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    frmMain(AppContext& context, const CommandLine& commandLine, QWidget* parent = nullptr);
    ~frmMain() override;

    // Menu commands.
    void mnuViewLogs_Click();
    void mnuExit_Click();
    void mnuFileCleaner_Click();
    void mnuDiskCleaner_Click();
    void mnuOptions_Click();
    void mnuHelp1_Click();
    void mnuAbout_Click();

    // The File Cleaner's delete and drop handlers and its list measure, carried out by the
    // panel; the other controls' handlers live on their panels only.
    void cmdDelete_Click();
    bool List1_OLEDragOver(const QMimeData* data) const;
    void List1_OLEDragDrop(const QMimeData* data);
    int ScrollBar();
    int horizontalExtent() const;

    bool deletionRunning() const;
    cTooltip& tooltip() { return *objTooltip; }
    PendingList* pendingList() const { return List1; }
    FilePanel& filePanel() const { return *m_filePanel; }
    DiskPanel& diskPanel() const { return *m_diskPanel; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load(const CommandLine& commandLine);
    // Whether the window may close now; during a run it asks the run to stop instead.
    bool Form_QueryUnload();
    void closeWhenRunsEnded();
    void buildMenu();
    void buildPanels();
    // Grows the panels and the window where the font needs more room than planned.
    void fitToFont();
    void growPanels(int height);
    void drawBanner();

    // Where the focus goes back to after a dialog when the control that opened it cannot
    // take it: the pending list, or the drive list when the Disk Cleaner is in front.
    QWidget* fallbackFocus() const;

    AppContext& m_context;
    // The panels' services: their dialogs give the keyboard back to the window.
    FocusReturningDialogs m_dialogs;
    AppContext m_panelContext;
    std::unique_ptr<cTooltip> objTooltip;
    DiskPanel* m_diskPanel = nullptr;
    FilePanel* m_filePanel = nullptr;

    QMenu* mnuFile = nullptr;
    QAction* mnuViewLogs = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuView = nullptr;
    QAction* mnuFileCleaner = nullptr;
    QAction* mnuDiskCleaner = nullptr;
    QAction* mnuBar = nullptr;
    QAction* mnuOptions = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuHelp1 = nullptr;
    QAction* mnuAbout = nullptr;

    QWidget* m_central = nullptr;
    QLabel* Picture1 = nullptr;
    QGroupBox* frmDisk = nullptr;
    QGroupBox* frmFile = nullptr;
    PendingList* List1 = nullptr; // the File Cleaner's pending list
    qreal m_bannerRatio = 0;
    bool m_closePending = false;
};

} // namespace ov
