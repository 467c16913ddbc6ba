#pragma once

#include "diskclean/FreeSpaceRun.h"
#include "drive/DriveInfo.h"
#include "platform/StopChannel.h"
#include "ui/AppContext.h"

#include <QComboBox>
#include <QObject>

#include <array>
#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ov {

class ValueLabel;

// The drive list: reads the mounted file systems afresh each time it opens, so a stick
// mounted since start-up is there.
class DriveListBox : public QComboBox
{
    Q_OBJECT
public:
    explicit DriveListBox(QWidget* parent);
    std::function<void()> beforePopup;
    void showPopup() override;
};

// The Disk Cleaner panel: every control inside the frame it is given, the facts of the
// chosen volume, and the free-space run behind the start and Stop buttons.
class DiskPanel : public QObject, private FreeSpaceView
{
    Q_OBJECT
public:
    DiskPanel(QGroupBox* frmDisk, ov::AppContext& context, QWidget* window);
    ~DiskPanel() override;

    // The handlers of the panel's controls.
    void Drive1_Change();
    void Command1_Click();
    void cmdStop_Click();

    // For the window's close: stop the run (its files are deleted as it ends), then
    // wait for runFinished.
    bool isRunning() const;
    void requestStop();

    // Reads the mounted file systems into the drive list, keeping the current entry.
    void refreshDriveList();
    // The control the focus goes to when the panel comes to the front.
    QWidget* firstControl() const;

signals:
    void runFinished();
    // The notice under the fact rows needs this much more height than the panel has.
    void roomNeeded(int height);

private:
    void buildControls();
    void ShowDriveInfo();
    void report(int step, const QString& detail);
    QByteArray currentMountPoint() const;
    void selectMountPoint(const QByteArray& mountPoint);

    // FreeSpaceView
    QByteArray driveDesignator() const override;
    void setStatusText(const QString& text) override;
    void setCleanedText(const QString& text) override;
    void setLeftText(const QString& text) override;
    void setStopInFront(bool stopInFront) override;
    void setStartEnabled(bool enabled) override;
    void setDriveListEnabled(bool enabled) override;
    void showErrorReport(int step, const QString& text) override;
    void showUnreached(const QStringList& lines) override;

    QGroupBox* m_frame;
    AppContext& m_context;
    QWidget* m_window;
    VolumePlatform* m_volumes;
    std::unique_ptr<CDriveInfo> objDriveInfo;
    StopChannel m_stop;
    std::unique_ptr<FreeSpaceRun> m_run;
    QString m_unreachedText; // what lblNotice was given of the last run's end
    bool m_refreshing = false;
    bool m_focusToStart = false; // the focus waits for the start button to open

    QLabel* lblDrive = nullptr;
    DriveListBox* Drive1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* cmdStop = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* lblCleaned = nullptr;
    QLabel* lblLeft = nullptr;
    QLabel* Label9 = nullptr;
    ValueLabel* lblStatus2 = nullptr;
    QLabel* Label10 = nullptr;
    // Where the notice of a volume that is not present appears: under the fact rows.
    ValueLabel* lblNotice = nullptr;
    // Indexed as the control arrays are: elements 1, 2, 3, 4, 6, 7 and 8.
    std::array<QLabel*, 9> lbl{};
    std::array<QLineEdit*, 9> txt{};
};

} // namespace ov
