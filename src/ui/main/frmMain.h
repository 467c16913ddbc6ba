#pragma once

#include "ui/AppContext.h"
#include "ui/main/CommandLine.h"
#include "ui/main/FolderLister.h"
#include "wipe/DeletionRun.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QMimeData;
class QPushButton;
class QTimer;

namespace ov {

class DiskPanel;
class PendingList;
class PictureBox;
class clsPicBar;
class cTooltip;

// The program's main window: the menu, the banner and the two panels over the same
// rectangle, the Disk Cleaner in front at start-up and the File Cleaner behind it.
class frmMain : public QMainWindow, public DeletionView
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

    // The File Cleaner's commands.
    void cmdDelete_Click();
    void cmdAddFile_Click();
    void cmdAddFolder_Click();
    void cmdRemoveFile_Click();
    void cmdClearList_Click();
    bool List1_OLEDragOver(const QMimeData* data) const;
    void List1_OLEDragDrop(const QMimeData* data);
    void Timer2_Timer();

    // Computes the horizontal extent of the pending list from its entries (the widest
    // entry in the window's font plus a vertical scroll bar) and keeps it.
    int ScrollBar();
    int horizontalExtent() const { return m_horizontalExtent; }

    bool deletionRunning() const { return m_deletionRun.isRunning(); }
    cTooltip& tooltip() { return *objTooltip; }
    PendingList* pendingList() const { return List1; }

    // DeletionView
    void setStatus(const QString& text) override;
    void setTotalFiles(const QString& text) override;
    void setFilesDeleted(const QString& text) override;
    void setFilesLeft(const QString& text) override;
    void setRunning(bool running) override;
    void setPending(const std::vector<QByteArray>& entries) override;
    void reportError(const Error& error) override;
    void reportNotices(const QStringList& lines) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load(const CommandLine& commandLine);
    // Whether the window may close now; during a run it asks the run to stop instead.
    bool Form_QueryUnload();
    void closeWhenRunsEnded();
    void buildMenu();
    void buildPanels();
    void buildFileCleaner();
    void setListCommandsEnabled(bool enabled);

    AppContext& m_context;
    std::unique_ptr<cTooltip> objTooltip;
    DiskPanel* objDiskPanel = nullptr;
    std::unique_ptr<clsPicBar> objPicBar;

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

    QTimer* Timer2 = nullptr;
    QLabel* Picture1 = nullptr;
    QGroupBox* frmDisk = nullptr;
    QGroupBox* frmFile = nullptr;
    PendingList* List1 = nullptr;
    QPushButton* cmdAddFile = nullptr;
    QPushButton* cmdAddFolder = nullptr;
    QPushButton* cmdRemoveFile = nullptr;
    QPushButton* cmdClearList = nullptr;
    QPushButton* cmdDelete = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lblStatusStatic = nullptr;
    QLabel* lblStatus = nullptr;
    PictureBox* picGrad = nullptr;
    QLabel* Picture2 = nullptr;
    FolderLister File1;

    DeletionRun m_deletionRun;
    int m_horizontalExtent = 0;
    bool m_busy = false;
    bool m_listCommandsEnabled = true;
    bool m_closePending = false;
};

} // namespace ov
