#pragma once

#include "ui/AppContext.h"
#include "ui/file/FolderLister.h"
#include "wipe/DeletionRun.h"

#include <QObject>

#include <memory>
#include <vector>

class QGroupBox;
class QLabel;
class QMimeData;
class QPushButton;
class QTimer;
class QWidget;

namespace ov {

class PendingList;
class PictureBox;
class ValueLabel;
class clsPicBar;
class cTooltip;

// The File Cleaner panel: every control inside the frame it is given, the pending list
// and its commands, and the deletion run behind the delete button with the moving band.
class FilePanel : public QObject, private DeletionView
{
    Q_OBJECT
public:
    FilePanel(QGroupBox* frmFile, AppContext& context, QWidget* window);
    ~FilePanel() override;

    // The handlers of the panel's controls.
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
    int horizontalExtent() const;

    // Start-up: the tips of the six controls, in their order.
    void addTips(cTooltip& tips);
    // Start-up: the band on its picture box, and its timer at rest.
    void setUpProgressBar();

    // Spreads the panel's controls over `extra` more pixels of width than they need: the
    // list, the status line and the advice grow, the buttons move along to the right.
    void widenBy(int extra);

    PendingList* pendingList() const { return List1; }
    // The control the focus goes to when the panel comes to the front.
    QWidget* firstControl() const;

    // For the window's close: the run ends after the file in hand, and the status line
    // says so; then runFinished.
    bool isRunning() const { return m_run.isRunning(); }
    void closeAfterRun();

signals:
    void runFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    // The delete button's accessible description: how many files, at which level.
    void describeDelete();
    void setListCommandsEnabled(bool enabled);

    // DeletionView
    void setStatus(const QString& text) override;
    void setTotalFiles(const QString& text) override;
    void setFilesDeleted(const QString& text) override;
    void setFilesLeft(const QString& text) override;
    void setRunning(bool running) override;
    void setPending(const std::vector<QByteArray>& entries) override;
    void reportError(const Error& error) override;
    void reportNotices(const QStringList& lines) override;

    QGroupBox* m_frame;
    AppContext& m_context;
    QWidget* m_window;
    std::unique_ptr<clsPicBar> objPicBar;
    DeletionRun m_run;
    bool m_running = false;
    bool m_listCommandsEnabled = true;

    QTimer* Timer2 = nullptr;
    PendingList* List1 = nullptr;
    QPushButton* cmdAddFile = nullptr;
    QPushButton* cmdAddFolder = nullptr;
    QPushButton* cmdRemoveFile = nullptr;
    QPushButton* cmdClearList = nullptr;
    QPushButton* cmdDelete = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    ValueLabel* Label4 = nullptr;
    ValueLabel* Label5 = nullptr;
    ValueLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lblStatusStatic = nullptr;
    ValueLabel* lblStatus = nullptr;
    PictureBox* picGrad = nullptr;
    QLabel* Picture2 = nullptr;
    FolderLister File1;
};

} // namespace ov
