#include "ui/disk/DiskPanel.h"

#include "platform/Error.h"
#include "platform/LinuxVolumes.h"
#include "platform/MountTable.h"
#include "ui/AccessibleLabels.h"
#include "ui/ProgramTitle.h"
#include "ui/Stacking.h"
#include "ui/Widgets.h"

#include <QFontDatabase>

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace ov {

namespace {

const char kNote[] =
    "Note: Cleaning a drive will NOT delete any files. It will clean the free space on the "
    "drive where files might have been at one time or another. Please do not run any "
    "programs while this procedure is being performed. This will ensure it will finish with "
    "out any problems.";

// The largest byte count a volume's row shows.
constexpr std::int64_t kLargestVolumeBytes = 922337203685477;

// The fact rows, top to bottom, by the index of their caption and value box.
struct Row
{
    int index;
    const char* caption;
};
const Row kRows[] = {
    {1, "Volume Serial Number:"}, {2, "Total Space:"}, {3, "Total Free Space:"},
    {4, "Available Free Space:"}, {7, "Drive Type:"},  {6, "File System Name:"},
    {8, "Volume Compressed:"},
};

// Tahoma where it is installed, the window's own family otherwise; 8.25 points at the
// least, larger where the desktop's font is (a reader who needs 12 points needs them here).
QFont panelFont(const QFont& base)
{
    QFont font = base;
    if (QFontDatabase::hasFamily(QStringLiteral("Tahoma")))
        font.setFamilies({QStringLiteral("Tahoma")});
    font.setPointSizeF(std::max(8.25, base.pointSizeF()));
    return font;
}

// Holds the start and Stop buttons on top of each other, both filling it, so that only
// the one in front is seen and clicked.
class ButtonStack : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        for (QObject* child : children()) {
            if (auto* button = qobject_cast<QWidget*>(child))
                button->setGeometry(QRect(QPoint(0, 0), event->size()));
        }
    }
};

// Wide enough for the longest size a volume can show, whole.
int valueBoxWidth(const QLineEdit* box)
{
    const QFontMetrics metrics(box->font());
    const int margins = box->sizeHint().width() - 17 * metrics.horizontalAdvance(QLatin1Char('x'));
    return margins + metrics.horizontalAdvance(CDriveInfo::FormatSize(kLargestVolumeBytes, true));
}

// The run writes CR LF between the size and the word; a label breaks lines at LF.
QString labelText(const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

} // namespace

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent)
{
    // Qt 6.4 gives a closed drop-down list no text and no selection on the accessibility
    // bus, so a screen reader that comes to it says only its caption: the chosen entry is
    // its description as well, which the reader speaks after the caption.
    connect(this, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { setAccessibleDescription(text); });
}

void DriveListBox::showPopup()
{
    if (beforePopup)
        beforePopup();
    QComboBox::showPopup();
}

DiskPanel::DiskPanel(QGroupBox* frmDisk, ov::AppContext& context, QWidget* window)
    : QObject(frmDisk), m_frame(frmDisk), m_context(context), m_window(window),
      m_volumes(&context.volumes)
{
    buildControls();
    // Start-up: the object describes the volume of the current directory.
    objDriveInfo = std::make_unique<CDriveInfo>(*m_volumes);
    FreeSpaceView& view = *this;
    m_run = std::make_unique<FreeSpaceRun>(*objDriveInfo, view, m_context.runner, m_stop,
                                           m_context.settings, &m_context.log);
    m_run->onFinished = [this] {
        // Spoken: the status line alone changes without a word from a screen reader.
        announce(m_window, lblStatus2->text() + QStringLiteral(". ") +
                               lblCleaned->text().replace(QLatin1Char('\n'), QLatin1Char(' ')) +
                               QStringLiteral(", ") +
                               lblLeft->text().replace(QLatin1Char('\n'), QLatin1Char(' ')) +
                               QLatin1Char('.'));
        emit runFinished();
    };
    refreshDriveList();
    if (objDriveInfo->startFailure())
        report(0, objDriveInfo->startFailure()->text());
    ShowDriveInfo();
}

DiskPanel::~DiskPanel() = default;

void DiskPanel::buildControls()
{
    auto* body = new QWidget(m_frame);
    body->setObjectName(QStringLiteral("diskBody"));
    body->setFont(panelFont(m_frame->font()));
    if (QLayout* existing = m_frame->layout()) {
        existing->addWidget(body);
    } else {
        auto* frameLayout = new QVBoxLayout(m_frame);
        frameLayout->setContentsMargins(8, 4, 8, 6);
        frameLayout->addWidget(body);
    }

    auto* grid = new QGridLayout(body);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);

    // Left column: the drive list, the two buttons, the progress frame; wide enough for
    // "1.50 GB (1,610,612,736 bytes)" on one line.
    auto* leftColumn = new QWidget(body);
    leftColumn->setMinimumWidth(196);
    auto* left = new QVBoxLayout(leftColumn);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(6);
    Drive1 = new DriveListBox(leftColumn);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Drive1->setMinimumContentsLength(12);
    Drive1->beforePopup = [this] { refreshDriveList(); };
    Drive1->setAccessibleName(QStringLiteral("Drive"));
    // On this desktop a drop-down list is read by its caption (its name is the entry
    // chosen): the caption says what the list is for.
    lblDrive = new QLabel(QStringLiteral("Drive:"), leftColumn);
    lblDrive->setObjectName(QStringLiteral("lblDrive"));
    lblDrive->setBuddy(Drive1);
    left->addWidget(lblDrive);
    left->addWidget(Drive1);

    auto* buttons = new ButtonStack(leftColumn);
    buttons->setObjectName(QStringLiteral("buttonStack"));
    cmdStop = new QPushButton(QStringLiteral("Stop"), buttons);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    Command1 = new QPushButton(QStringLiteral("Clean Selected Drive"), buttons);
    Command1->setObjectName(QStringLiteral("Command1"));
    // Both buttons fit, whichever is in front.
    buttons->setMinimumSize(
        Command1->sizeHint().expandedTo(cmdStop->sizeHint()).expandedTo(QSize(0, 26)));
    buttons->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // At rest the start button lies in front; the Stop button behind it takes no key.
    Command1->raise();
    setCovered(cmdStop, true);
    left->addWidget(buttons);

    Frame2 = new QGroupBox(QStringLiteral("Progress"), leftColumn);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    auto* progress = new QVBoxLayout(Frame2);
    progress->setContentsMargins(8, 4, 8, 6);
    progress->setSpacing(6);
    const int twoLines = 2 * QFontMetrics(body->font()).lineSpacing() + 2;
    lblCleaned = new QLabel(QStringLiteral("0 KB Cleaned"), Frame2);
    lblCleaned->setObjectName(QStringLiteral("lblCleaned"));
    lblLeft = new QLabel(QStringLiteral("0 KB Left to clean"), Frame2);
    lblLeft->setObjectName(QStringLiteral("lblLeft"));
    for (QLabel* label : {lblCleaned, lblLeft}) {
        label->setMinimumHeight(twoLines);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true); // the largest sizes take a third line
        progress->addWidget(label);
    }
    left->addWidget(Frame2);
    left->addStretch(1);
    grid->addWidget(leftColumn, 0, 0);

    // Right column: the status line, the seven fact rows, the notice.
    auto* right = new QGridLayout;
    right->setHorizontalSpacing(8);
    right->setVerticalSpacing(3);
    auto* status = new QHBoxLayout;
    status->setSpacing(0);
    Label9 = new QLabel(QStringLiteral("Status: "), body);
    Label9->setObjectName(QStringLiteral("Label9"));
    lblStatus2 = new ValueLabel(QStringLiteral("Ready..."), body, QAccessible::StatusBar);
    lblStatus2->setObjectName(QStringLiteral("lblStatus2"));
    lblStatus2->setAccessibleName(Label9->text());
    Label9->setBuddy(lblStatus2);
    status->addWidget(Label9);
    status->addWidget(lblStatus2, 1);
    right->addLayout(status, 0, 0, 1, 2);
    int line = 1;
    for (const Row& row : kRows) {
        auto* caption = new QLabel(QString::fromLatin1(row.caption), body);
        caption->setObjectName(QStringLiteral("lbl") + QString::number(row.index));
        auto* value = new QLineEdit(body);
        value->setObjectName(QStringLiteral("txt") + QString::number(row.index));
        value->setReadOnly(true);
        value->setFocusPolicy(Qt::ClickFocus);
        value->unsetCursor(); // the window's pointer, the hourglass included
        value->setMinimumWidth(valueBoxWidth(value));
        // Read by its caption.
        value->setAccessibleName(caption->text());
        caption->setBuddy(value);
        lbl[size_t(row.index)] = caption;
        txt[size_t(row.index)] = value;
        right->addWidget(caption, line, 0);
        right->addWidget(value, line, 1);
        ++line;
    }
    lblNotice = new ValueLabel(QString(), body);
    lblNotice->setObjectName(QStringLiteral("lblNotice"));
    lblNotice->setAccessibleName(QStringLiteral("Notice"));
    QFont bold = body->font();
    bold.setBold(true);
    lblNotice->setFont(bold);
    lblNotice->setMinimumHeight(QFontMetrics(bold).lineSpacing());
    right->addWidget(lblNotice, line, 1);
    right->setColumnStretch(1, 1);
    right->setRowStretch(line + 1, 1);
    grid->addLayout(right, 0, 1);

    Label10 = new QLabel(QString::fromLatin1(kNote), body);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->setWordWrap(true);
    grid->addWidget(Label10, 1, 0, 1, 2);
    grid->setColumnStretch(0, 0);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);

    connect(Drive1, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_refreshing)
            Drive1_Change();
    });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(cmdStop, &QPushButton::clicked, this, [this] { cmdStop_Click(); });
}

QByteArray DiskPanel::currentMountPoint() const
{
    return Drive1->currentData().toByteArray();
}

void DiskPanel::selectMountPoint(const QByteArray& mountPoint)
{
    int index = Drive1->findData(mountPoint);
    if (index < 0 && !mountPoint.isEmpty()) {
        // The current volume has gone since the list was read: it stays the current
        // entry, so that its notice can show, until another one is picked.
        Drive1->addItem(plainPathText(mountPoint), mountPoint);
        index = Drive1->count() - 1;
    }
    Drive1->setCurrentIndex(index);
}

void DiskPanel::refreshDriveList()
{
    const QByteArray current =
        Drive1->count() > 0 ? currentMountPoint() : MountTable::stripRoot(objDriveInfo->Drive());
    const std::vector<MountEntry> entries = m_volumes->mounts();
    m_refreshing = true;
    Drive1->clear();
    for (const MountEntry& entry : entries)
        Drive1->addItem(plainPathText(entry.entryText()), entry.mountPoint);
    selectMountPoint(current);
    m_refreshing = false;
}

void DiskPanel::report(int step, const QString& detail)
{
    showErrorReport(step, errorReport(step, detail));
}

void DiskPanel::Drive1_Change()
{
    int step = 0;
    bool hourglass = false;
    try {
        step = 1;
        setBusyPointer(m_window, true);
        hourglass = true;
        step = 2;
        objDriveInfo->setRootPath(currentMountPoint());
        step = 3;
        ShowDriveInfo();
        step = 4;
        setBusyPointer(m_window, false);
        hourglass = false;
        step = 5;
        lblCleaned->setText(QStringLiteral("0 Cleaned"));
        step = 6;
        lblLeft->setText(QStringLiteral("0 Cleaned left to clean"));
    } catch (const Error& error) {
        // The pointer comes back even after a failure: an hourglass that stays on would
        // tell the user the program is still busy.
        if (hourglass)
            setBusyPointer(m_window, false);
        report(step, error.text());
    }
}

void DiskPanel::ShowDriveInfo()
{
    int step = 0;
    try {
        if (objDriveInfo->Present()) {
            txt[1]->setText(objDriveInfo->SerialNumberEx());
            txt[2]->setText(CDriveInfo::FormatSize(objDriveInfo->TotalSpace(), true));
            txt[3]->setText(CDriveInfo::FormatSize(objDriveInfo->FreeSpace(), true));
            txt[4]->setText(CDriveInfo::FormatSize(objDriveInfo->AvailableSpace(), true));
            step = 11;
            txt[6]->setText(plainPathText(objDriveInfo->FileSystem()));
            txt[7]->setText(objDriveInfo->DriveTypeEx());
            txt[8]->setText(objDriveInfo->FileSystemFlag(kVolumeIsCompressed)
                                ? QStringLiteral("True")
                                : QStringLiteral("False"));
            // A run that never ended left its filler: named, with the advice to run again.
            // Reading the folder may wait on the disk: not on the interface thread.
            const QByteArray mountPoint = MountTable::stripRoot(objDriveInfo->Drive());
            const QStringList leftovers = m_context.runner.blocking(
                [&] { return FreeSpaceRun::leftoverNotices({}, mountPoint); });
            lblNotice->setWordWrap(!leftovers.isEmpty());
            lblNotice->setText(leftovers.join(QLatin1Char('\n')));
        } else {
            step = 11;
            for (QLineEdit* box : txt) {
                if (box)
                    box->clear();
            }
            step = 12;
            txt[7]->setText(objDriveInfo->DriveTypeEx());
            lblNotice->setText(CDriveInfo::notPresentNotice(objDriveInfo->DriveType()));
        }
        for (QLineEdit* box : txt) {
            if (box)
                box->setCursorPosition(0);
        }
    } catch (const Error& error) {
        report(step, error.text());
    }
}

void DiskPanel::Command1_Click()
{
    m_run->run();
}

void DiskPanel::cmdStop_Click()
{
    m_run->requestStop();
}

bool DiskPanel::isRunning() const
{
    return m_run->isRunning();
}

void DiskPanel::requestStop()
{
    if (m_run->isRunning())
        m_run->requestStop();
}

QByteArray DiskPanel::driveDesignator() const
{
    return currentMountPoint();
}

void DiskPanel::setStatusText(const QString& text)
{
    lblStatus2->setText(text);
}

void DiskPanel::setCleanedText(const QString& text)
{
    lblCleaned->setText(labelText(text));
}

void DiskPanel::setLeftText(const QString& text)
{
    lblLeft->setText(labelText(text));
}

void DiskPanel::setStopInFront(bool stopInFront)
{
    QPushButton* front = stopInFront ? cmdStop : Command1;
    QPushButton* behind = stopInFront ? Command1 : cmdStop;
    // The focus follows the button it was on to the one now in front.
    const bool hadFocus = behind->hasFocus() || m_window->focusWidget() == behind;
    setCovered(behind, true);
    front->raise();
    setCovered(front, false);
    // Closed controls cannot take it yet: then the start button gets it when it opens.
    if (hadFocus)
        m_focusToStart = !focusFirst(m_frame, front) && !stopInFront;
}

QWidget* DiskPanel::firstControl() const
{
    return Drive1;
}

void DiskPanel::setStartEnabled(bool enabled)
{
    if (!enabled && m_window->focusWidget() == Command1)
        m_focusToStart = true; // it loses the focus now and gets it back when it opens
    Command1->setEnabled(enabled);
    if (enabled && m_focusToStart) {
        m_focusToStart = false;
        if (!m_window->focusWidget())
            focusFirst(m_frame, Command1);
    }
}

void DiskPanel::setDriveListEnabled(bool enabled)
{
    Drive1->setEnabled(enabled);
}

void DiskPanel::showUnreached(const QStringList& lines)
{
    // Under the fact rows, where the notice of a volume that is not present appears; a
    // run's notice replaces only the one of the run before.
    const QString text = lines.join(QLatin1Char('\n'));
    if (text.isEmpty() && lblNotice->text() != m_unreachedText)
        return;
    lblNotice->setWordWrap(true);
    lblNotice->setText(text);
    m_unreachedText = text;
    // Told whole: the window grows by what the notice's lines lack.
    const int lacking = lblNotice->heightForWidth(lblNotice->width()) - lblNotice->height();
    if (lacking > 0)
        emit roomNeeded(lacking);
}

void DiskPanel::showErrorReport(int, const QString& text)
{
    m_context.dialogs.messageBox(m_window, Dialogs::Icon::Information, programTitle(), text);
}

} // namespace ov
