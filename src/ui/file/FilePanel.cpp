#include "ui/file/FilePanel.h"

#include "platform/Files.h"
#include "platform/PathText.h"
#include "platform/Paths.h"
#include "settings/WipeLevel.h"
#include "ui/AccessibleLabels.h"
#include "ui/Artwork.h"
#include "ui/ProgramTitle.h"
#include "ui/Widgets.h"
#include "ui/file/PendingList.h"
#include "ui/file/PictureBox.h"
#include "ui/file/clsPicBar.h"
#include "ui/main/MainLayout.h"
#include "ui/main/cTooltip.h"

#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QUrl>

namespace ov {

namespace {

// The path a dropped URL names on this machine, from the URL's encoded form so that
// names that are not valid UTF-8 keep their bytes.
std::optional<QByteArray> localPathOfUrl(const QUrl& url)
{
    return localPathOfFileUri(url.toEncoded());
}

// A counter or status line beside its caption: read by the caption's text.
ValueLabel* valueBeside(QLabel* caption, const char* name, const QString& text, const QRect& rect,
                        QAccessible::Role role = QAccessible::StaticText)
{
    auto* value = new ValueLabel(text, caption->parentWidget(), role);
    value->setObjectName(QLatin1String(name));
    value->setGeometry(rect);
    value->setAccessibleName(caption->text());
    caption->setBuddy(value);
    // The caption claims a space after its text, so that where a large font widens it
    // the value still starts a space away ("Files Deleted: 3", not "Files Deleted:3").
    caption->setContentsMargins(0, 0, caption->fontMetrics().horizontalAdvance(QLatin1Char(' ')),
                                0);
    return value;
}

// What one press of the delete button destroys, for the screen reader's description.
QString deleteDescription(int count, const QString& levelText)
{
    const std::optional<WipeLevel> level = parseWipeLevel(levelText);
    if (!level)
        return QStringLiteral("destroys nothing: the stored security level is none of 1, 2 "
                              "and 3; choose one in the options");
    const char* names[] = {"", "least", "medium", "high"};
    return QStringLiteral("destroys the %1 %2 on the list at the %3 level")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(QLatin1String(names[int(*level)]));
}

} // namespace

FilePanel::FilePanel(QGroupBox* frmFile, AppContext& context, QWidget* window)
    : QObject(frmFile), m_frame(frmFile), m_context(context), m_window(window),
      m_run(*this, context.settings, &context.log, context.runner, context.startFolder)
{
    buildControls();
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    connect(Timer2, &QTimer::timeout, this, &FilePanel::Timer2_Timer);
    // The delete button's description follows the list; the level may have changed in
    // the options by the time the button is reached, so it is read afresh there too.
    QAbstractItemModel* model = List1->model();
    for (auto changed : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, changed, this, &FilePanel::describeDelete);
    connect(model, &QAbstractItemModel::modelReset, this, &FilePanel::describeDelete);
    cmdDelete->installEventFilter(this);
    describeDelete();
}

void FilePanel::describeDelete()
{
    cmdDelete->setAccessibleDescription(
        deleteDescription(List1->count(), m_context.settings.SecurityLevel));
}

bool FilePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == cmdDelete &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::Enter))
        describeDelete();
    return QObject::eventFilter(watched, event);
}

FilePanel::~FilePanel()
{
    if (m_running)
        setBusyPointer(m_window, false);
}

void FilePanel::buildControls()
{
    QWidget* frame = m_frame;
    List1 = new PendingList(frame);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(layout::kList1);
    List1->acceptsDrag = [this](const QMimeData* data) { return List1_OLEDragOver(data); };
    List1->dropped = [this](const QMimeData* data) { List1_OLEDragDrop(data); };

    cmdAddFile =
        place<QPushButton>(frame, "cmdAddFile", QStringLiteral("Add File"), layout::kAddFile);
    cmdAddFolder =
        place<QPushButton>(frame, "cmdAddFolder", QStringLiteral("Add Folder"), layout::kAddFolder);
    cmdRemoveFile = place<QPushButton>(frame, "cmdRemoveFile", QStringLiteral("Remove File"),
                                       layout::kRemoveFile);
    cmdClearList =
        place<QPushButton>(frame, "cmdClearList", QStringLiteral("Clear List"), layout::kClearList);
    cmdDelete =
        place<QPushButton>(frame, "cmdDelete", QStringLiteral("Ombrevault"), layout::kDelete);
    QFont bold = cmdDelete->font();
    bold.setBold(true);
    cmdDelete->setFont(bold);
    QWidget* const tabOrder[] = {List1,         cmdAddFile,   cmdAddFolder,
                                 cmdRemoveFile, cmdClearList, cmdDelete};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        QWidget::setTabOrder(tabOrder[i], tabOrder[i + 1]);

    Label1 = place<QLabel>(frame, "Label1", QStringLiteral("Total Files:"), layout::kLabel1);
    Label4 = valueBeside(Label1, "Label4", QStringLiteral("0"), layout::kLabel4);
    Label2 = place<QLabel>(frame, "Label2", QStringLiteral("Files Deleted:"), layout::kLabel2);
    Label5 = valueBeside(Label2, "Label5", QStringLiteral("0"), layout::kLabel5);
    Label3 = place<QLabel>(frame, "Label3", QStringLiteral("Files Left:"), layout::kLabel3);
    Label6 = valueBeside(Label3, "Label6", QStringLiteral("0"), layout::kLabel6);
    lblStatusStatic =
        place<QLabel>(frame, "lblStatusStatic", QStringLiteral("Status: "), layout::kStatusStatic);
    lblStatus = valueBeside(lblStatusStatic, "lblStatus", QStringLiteral("Ready..."),
                            layout::kStatus, QAccessible::StatusBar);
    lblStatus->setElideMiddle(true);

    picGrad = new PictureBox(frame);
    picGrad->setObjectName(QStringLiteral("picGrad"));
    picGrad->setGeometry(layout::kPicGrad);
    picGrad->setPicture(QPixmap::fromImage(gradientPicture()));
    picGrad->setAccessibleName(QStringLiteral("Progress band"));

    Picture2 = new QLabel(frame);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(layout::kPicture2);
    Picture2->setPixmap(cautionSign(layout::kPicture2.width(), frame->devicePixelRatioF()));
    Picture2->setAccessibleName(QStringLiteral("Caution"));

    Label7 = place<QLabel>(frame, "Label7",
                           QStringLiteral("Please make sure to turn off all recovery utilities, "
                                          "undelete, and go back type of software before deleting "
                                          "files. This will make sure the files you delete can not "
                                          "be recovered."),
                           layout::kLabel7);
    Label7->setWordWrap(true);
    Label7->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    connect(cmdAddFile, &QPushButton::clicked, this, &FilePanel::cmdAddFile_Click);
    connect(cmdAddFolder, &QPushButton::clicked, this, &FilePanel::cmdAddFolder_Click);
    connect(cmdRemoveFile, &QPushButton::clicked, this, &FilePanel::cmdRemoveFile_Click);
    connect(cmdClearList, &QPushButton::clicked, this, &FilePanel::cmdClearList_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &FilePanel::cmdDelete_Click);
}

void FilePanel::addTips(cTooltip& tips)
{
    // The list is read by its tip.
    const QString listTip = QStringLiteral("Files which are pending deletion.");
    List1->setAccessibleName(listTip);
    tips.AddControl(List1, listTip, true);
    tips.AddControl(cmdAddFolder,
                    QStringLiteral("Add all files in a folder to the list of files to be deleted."),
                    true);
    tips.AddControl(cmdAddFile, QStringLiteral("Add 1 file to to the list of files to be deleted."),
                    true);
    tips.AddControl(cmdClearList, QStringLiteral("Clear all items on the list."), true);
    tips.AddControl(cmdRemoveFile, QStringLiteral("Remove one selected file from the list."), true);
    tips.AddControl(cmdDelete, QStringLiteral("Delete all of the selected files."), true);
    // The tip stays the button's tip; what a screen reader is told is what it will do.
    describeDelete();
}

void FilePanel::setUpProgressBar()
{
    // The moving band.
    objPicBar = std::make_unique<clsPicBar>();
    objPicBar->setPicBox(picGrad);
    objPicBar->setIncrementor(5);
    objPicBar->setPicDir(1);
    // The band's timer, still.
    Timer2->setInterval(10);
    Timer2->stop();
}

void FilePanel::widenBy(int extra)
{
    if (extra <= 0)
        return;
    for (QWidget* button : {cmdAddFile, cmdAddFolder, cmdRemoveFile, cmdClearList, cmdDelete})
        button->move(button->x() + extra, button->y());
    for (QWidget* wide : std::initializer_list<QWidget*>{List1, lblStatus, Label7})
        wide->resize(wide->width() + extra, wide->height());
}

QWidget* FilePanel::firstControl() const
{
    return List1;
}

void FilePanel::closeAfterRun()
{
    if (!m_run.isRunning())
        return;
    m_run.requestStop();
    setStatus(QStringLiteral("The window will close after the file in hand."));
}

void FilePanel::setListCommandsEnabled(bool enabled)
{
    m_listCommandsEnabled = enabled;
    for (QPushButton* button : {cmdAddFile, cmdAddFolder, cmdRemoveFile, cmdClearList, cmdDelete})
        button->setEnabled(enabled);
    List1->setAcceptDrops(enabled);
}

void FilePanel::cmdDelete_Click()
{
    if (m_run.isRunning() || List1->count() == 0)
        return;
    // No entry may be added that the final clearing would drop, and no run may start
    // inside this one.
    setListCommandsEnabled(false);
    // The run turns the hourglass and the band off on every way out.
    const DeletionRun::Outcome outcome = m_run.run(List1->entries());
    setListCommandsEnabled(true);
    if (outcome != DeletionRun::Outcome::NothingToDo)
        announce(m_window, lblStatus->text() + QStringLiteral(". Files Deleted: ") +
                               Label5->text() + QStringLiteral(", Files Left: ") + Label6->text() +
                               QLatin1Char('.'));
    emit runFinished();
}

void FilePanel::cmdAddFile_Click()
{
    const std::optional<QByteArray> chosen = m_context.dialogs.openFile(
        m_window, QStringLiteral("Select File"), programFolder(), QStringLiteral("All Files (*)"));
    if (chosen && !chosen->isEmpty())
        List1->appendEntry(*chosen);
    else
        m_context.runner.yield();
    ScrollBar();
}

void FilePanel::cmdAddFolder_Click()
{
    const std::optional<QByteArray> chosen = m_context.dialogs.chooseFolder(
        m_window, QStringLiteral("Select the directory you wish to ombrevault."));
    if (!chosen || chosen->isEmpty())
        return;
    // Measured before the folder's files are added; the next Add File or Add Folder
    // covers them.
    ScrollBar();
    QByteArray folder = *chosen;
    // Read off the interface thread into a lister of its own: a second Add Folder served
    // meanwhile must not touch the one being read.
    FolderLister lister;
    lister.setPath(folder);
    if (!folder.endsWith('/'))
        folder += '/';
    try {
        lister.Refresh(m_context.runner);
        File1 = lister;
    } catch (const Error& error) {
        File1.setPath(lister.path());
        m_context.dialogs.messageBox(m_window, Dialogs::Icon::Exclamation, programTitle(),
                                     QStringLiteral("The folder could not be read.\n") +
                                         error.displayPath() + QLatin1Char('\n') + error.message());
        return;
    }
    List1->setUpdatesEnabled(false);
    for (int i = 0; i < File1.listCount(); ++i)
        List1->appendEntry(folder + File1.List(i));
    List1->setUpdatesEnabled(true);
}

void FilePanel::cmdRemoveFile_Click()
{
    const int selected = List1->currentRow();
    const QListWidgetItem* current =
        selected >= 0 && List1->item(selected)->isSelected() ? List1->item(selected) : nullptr;
    if (!current || current->data(PendingList::PathRole).toByteArray().isEmpty()) {
        m_context.runner.yield();
        return;
    }
    delete List1->takeItem(selected);
    List1->clearSelection();
    List1->setCurrentRow(-1);
}

void FilePanel::cmdClearList_Click()
{
    List1->clear();
}

bool FilePanel::List1_OLEDragOver(const QMimeData* data) const
{
    if (!m_listCommandsEnabled || !data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty())
        return false;
    for (const QUrl& url : urls) {
        if (!localPathOfUrl(url))
            return false;
    }
    return true;
}

void FilePanel::List1_OLEDragDrop(const QMimeData* data)
{
    if (!List1_OLEDragOver(data))
        return;
    for (const QUrl& url : data->urls()) {
        const QByteArray path = *localPathOfUrl(url);
        if (fs::isFolder(path))
            m_context.dialogs.messageBox(
                m_window, Dialogs::Icon::Information, programTitle(),
                QStringLiteral("Can not drag and drop a whole directory."));
        else
            List1->appendEntry(path);
    }
}

int FilePanel::ScrollBar()
{
    const int scrollBarWidth =
        List1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, List1);
    const QFontMetrics metrics(m_window->font());
    int widest = 0;
    for (int i = 0; i < List1->count(); ++i) {
        const int width = metrics.horizontalAdvance(List1->item(i)->text()) + scrollBarWidth;
        if (width >= widest)
            widest = width;
    }
    List1->setHorizontalExtent(widest);
    return widest;
}

int FilePanel::horizontalExtent() const
{
    return List1->horizontalExtent();
}

void FilePanel::Timer2_Timer()
{
    m_context.runner.yield();
    objPicBar->BGScroll();
}

void FilePanel::setStatus(const QString& text)
{
    lblStatus->setText(text);
}

void FilePanel::setTotalFiles(const QString& text)
{
    Label4->setText(text);
}

void FilePanel::setFilesDeleted(const QString& text)
{
    Label5->setText(text);
}

void FilePanel::setFilesLeft(const QString& text)
{
    Label6->setText(text);
}

void FilePanel::setRunning(bool running)
{
    if (running == m_running)
        return;
    m_running = running;
    // The hourglass over the main window only: the other windows stay usable.
    setBusyPointer(m_window, running);
    if (running)
        Timer2->start();
    else
        Timer2->stop();
}

void FilePanel::setPending(const std::vector<QByteArray>& entries)
{
    List1->setEntries(entries);
}

void FilePanel::reportError(const Error& error)
{
    QString text = QStringLiteral("The deletion run stopped at an error.");
    if (!error.path().isEmpty())
        text += QLatin1Char('\n') + error.displayPath();
    text += QLatin1Char('\n') + error.message();
    m_context.dialogs.messageBox(m_window, Dialogs::Icon::Stop, programTitle(), text);
}

void FilePanel::reportNotices(const QStringList& lines)
{
    // Data that survived on the device is a warning; other names still leading to
    // overwritten contents are for information.
    const bool survived =
        lines.contains(QStringLiteral("Deleted, but the old data is still on the device:"));
    m_context.dialogs.messageBox(m_window,
                                 survived ? Dialogs::Icon::Exclamation : Dialogs::Icon::Information,
                                 programTitle(), lines.join(QLatin1Char('\n')));
}

} // namespace ov
