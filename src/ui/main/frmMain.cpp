#include "ui/main/frmMain.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "settings/SettingsStore.h"
#include "ui/Widgets.h"
#include "ui/dialogs/OpenLink.h"
#include "ui/dialogs/frmAbout.h"
#include "ui/dialogs/frmOptions.h"
#include "ui/dialogs/frmViewLog.h"
#include "ui/disk/DiskPanel.h"
#include "ui/main/MainLayout.h"
#include "ui/main/PendingList.h"
#include "ui/main/PictureBox.h"
#include "ui/main/cTooltip.h"
#include "ui/main/clsPicBar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QUrl>

// Resources of a static library are linked only when something names them.
static void initMainWindowResources()
{
    Q_INIT_RESOURCE(mainwindow);
}

namespace ov {

namespace {

const QString kTitle = QStringLiteral("Ombrevault");

// A one-line label that shortens a text too long for it in the middle, so that both
// the start and the reason at the end of a failure stay readable; text() stays whole.
class StatusLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(area, int(alignment()) | Qt::TextSingleLine, shown);
    }
};

QAction* makeAction(QMenu* menu, const char* name, const QString& text)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    return action;
}

// The local path of a file URL as bytes: percent-decoded from the URL's encoded form,
// so that names that are not valid UTF-8 keep their bytes.
QByteArray localPathBytes(const QUrl& url)
{
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

bool isLocalFileUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return false;
    const QString host = url.host();
    return host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
}

} // namespace

frmMain::frmMain(AppContext& context, const CommandLine& commandLine, QWidget* parent)
    : QMainWindow(parent), m_context(context),
      m_deletionRun(*this, *context.settings, *context.log, *context.host, context.startFolder)
{
    initMainWindowResources();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(QStringLiteral(":/main/ombrevault.png")));
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    buildMenu();
    buildPanels();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    connect(Timer2, &QTimer::timeout, this, &frmMain::Timer2_Timer);

    Form_Load(commandLine);
}

frmMain::~frmMain()
{
    if (m_busy)
        QApplication::restoreOverrideCursor();
}

void frmMain::buildMenu()
{
    mnuFile = menuBar()->addMenu(QStringLiteral("File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuViewLogs = makeAction(mnuFile, "mnuViewLogs", QStringLiteral(" View Logs"));
    mnuExit = makeAction(mnuFile, "mnuExit", QStringLiteral(" E&xit"));

    mnuView = menuBar()->addMenu(QStringLiteral("View"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuFileCleaner = makeAction(mnuView, "mnuFileCleaner", QStringLiteral(" File Cleaner"));
    mnuDiskCleaner = makeAction(mnuView, "mnuDiskCleaner", QStringLiteral(" Disk Cleaner"));
    mnuBar = mnuView->addSeparator();
    mnuBar->setObjectName(QStringLiteral("mnuBar"));
    mnuOptions = makeAction(mnuView, "mnuOptions", QStringLiteral(" Options"));

    mnuHelp = menuBar()->addMenu(QStringLiteral("Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelp1 = makeAction(mnuHelp, "mnuHelp1", QStringLiteral(" Help"));
    mnuAbout = makeAction(mnuHelp, "mnuAbout", QStringLiteral(" About"));

    connect(mnuViewLogs, &QAction::triggered, this, &frmMain::mnuViewLogs_Click);
    connect(mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(mnuFileCleaner, &QAction::triggered, this, &frmMain::mnuFileCleaner_Click);
    connect(mnuDiskCleaner, &QAction::triggered, this, &frmMain::mnuDiskCleaner_Click);
    connect(mnuOptions, &QAction::triggered, this, &frmMain::mnuOptions_Click);
    connect(mnuHelp1, &QAction::triggered, this, &frmMain::mnuHelp1_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
}

void frmMain::buildPanels()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    central->setFixedSize(layout::kWindowWidth, layout::kCentralHeight);
    setCentralWidget(central);

    Picture1 = new QLabel(central);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(layout::kBanner);
    Picture1->setPixmap(QPixmap(QStringLiteral(":/main/banner.png")));

    // Created behind the Disk Cleaner panel, which is made afterwards and so lies on top.
    frmFile = new QGroupBox(QStringLiteral("File Wiper"), central);
    frmFile->setObjectName(QStringLiteral("frmFile"));
    frmFile->setGeometry(layout::kPanel);
    // The panel in front covers the one behind it completely.
    frmFile->setAutoFillBackground(true);
    buildFileCleaner();

    frmDisk = new QGroupBox(QStringLiteral("Disk Cleaner "), central);
    frmDisk->setObjectName(QStringLiteral("frmDisk"));
    frmDisk->setGeometry(layout::kPanel);
    frmDisk->setAutoFillBackground(true);
}

void frmMain::buildFileCleaner()
{
    List1 = new PendingList(frmFile);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(layout::kList1);
    List1->acceptsDrag = [this](const QMimeData* data) { return List1_OLEDragOver(data); };
    List1->dropped = [this](const QMimeData* data) { List1_OLEDragDrop(data); };

    cmdAddFile =
        place<QPushButton>(frmFile, "cmdAddFile", QStringLiteral("Add File"), layout::kAddFile);
    cmdAddFolder = place<QPushButton>(frmFile, "cmdAddFolder", QStringLiteral("Add Folder"),
                                      layout::kAddFolder);
    cmdRemoveFile = place<QPushButton>(frmFile, "cmdRemoveFile", QStringLiteral("Remove File"),
                                       layout::kRemoveFile);
    cmdClearList = place<QPushButton>(frmFile, "cmdClearList", QStringLiteral("Clear List"),
                                      layout::kClearList);
    cmdDelete =
        place<QPushButton>(frmFile, "cmdDelete", QStringLiteral("Ombrevault"), layout::kDelete);
    QFont bold = cmdDelete->font();
    bold.setBold(true);
    cmdDelete->setFont(bold);

    Label1 = place<QLabel>(frmFile, "Label1", QStringLiteral("Total Files:"), layout::kLabel1);
    Label4 = place<QLabel>(frmFile, "Label4", QStringLiteral("0"), layout::kLabel4);
    Label2 = place<QLabel>(frmFile, "Label2", QStringLiteral("Files Deleted:"), layout::kLabel2);
    Label5 = place<QLabel>(frmFile, "Label5", QStringLiteral("0"), layout::kLabel5);
    Label3 = place<QLabel>(frmFile, "Label3", QStringLiteral("Files Left:"), layout::kLabel3);
    Label6 = place<QLabel>(frmFile, "Label6", QStringLiteral("0"), layout::kLabel6);
    lblStatusStatic = place<QLabel>(frmFile, "lblStatusStatic", QStringLiteral("Status: "),
                                    layout::kStatusStatic);
    lblStatus = new StatusLabel(QStringLiteral("Ready..."), frmFile);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setGeometry(layout::kStatus);

    picGrad = new PictureBox(frmFile);
    picGrad->setObjectName(QStringLiteral("picGrad"));
    picGrad->setGeometry(layout::kPicGrad);
    picGrad->setPicture(QPixmap::fromImage(gradientPicture()));

    Picture2 = new QLabel(frmFile);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(layout::kPicture2);
    Picture2->setPixmap(QPixmap(QStringLiteral(":/main/picture2.png")));

    Label7 = place<QLabel>(frmFile, "Label7",
                           QStringLiteral("Please make sure to turn off all recovery utilities, "
                                          "undelete, and go back type of software before deleting "
                                          "files. This will make sure the files you delete can not "
                                          "be recovered."),
                           layout::kLabel7);
    Label7->setWordWrap(true);
    Label7->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    connect(cmdAddFile, &QPushButton::clicked, this, &frmMain::cmdAddFile_Click);
    connect(cmdAddFolder, &QPushButton::clicked, this, &frmMain::cmdAddFolder_Click);
    connect(cmdRemoveFile, &QPushButton::clicked, this, &frmMain::cmdRemoveFile_Click);
    connect(cmdClearList, &QPushButton::clicked, this, &frmMain::cmdClearList_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmMain::cmdDelete_Click);
}

void frmMain::Form_Load(const CommandLine& commandLine)
{
    // The entries the command line names: its whole text as one, or each file after the
    // files option (CommandLine.h).
    for (const QByteArray& entry : commandLine.entries)
        List1->appendEntry(entry);
    if (commandLine.entries.empty())
        m_context.host->yield();

    // The drive panel, showing the volume of the current directory; the frame owns it.
    objDiskPanel = new DiskPanel(frmDisk, m_context, this);
    connect(objDiskPanel, &DiskPanel::runFinished, this, &frmMain::closeWhenRunsEnded);

    // The settings.
    LoadSettings(*m_context.settings, *m_context.store);

    // The tips of the File Cleaner's controls.
    objTooltip = std::make_unique<cTooltip>();
    objTooltip->Create(this);
    objTooltip->setMaxWidth(400);
    int visibleTime = 2000;
    objTooltip->setVisibleTime(visibleTime);
    int delayTime = 400;
    objTooltip->setDelayTime(delayTime);
    objTooltip->AddControl(List1, QStringLiteral("Files which are pending deletion."), true);
    objTooltip->AddControl(
        cmdAddFolder,
        QStringLiteral("Add all files in a folder to the list of files to be deleted."), true);
    objTooltip->AddControl(
        cmdAddFile, QStringLiteral("Add 1 file to to the list of files to be deleted."), true);
    objTooltip->AddControl(cmdClearList, QStringLiteral("Clear all items on the list."), true);
    objTooltip->AddControl(cmdRemoveFile, QStringLiteral("Remove one selected file from the list."),
                           true);
    objTooltip->AddControl(cmdDelete, QStringLiteral("Delete all of the selected files."), true);

    // The moving band.
    objPicBar = std::make_unique<clsPicBar>();
    objPicBar->setPicBox(picGrad);
    objPicBar->setIncrementor(5);
    objPicBar->setPicDir(1);

    // The band's timer, still.
    Timer2->setInterval(10);
    Timer2->stop();
}

void frmMain::mnuViewLogs_Click()
{
    frmViewLog::showSingle(m_context);
}

void frmMain::mnuExit_Click()
{
    close();
}

void frmMain::mnuFileCleaner_Click()
{
    frmFile->show();
    frmFile->raise();
    frmDisk->hide();
}

void frmMain::mnuDiskCleaner_Click()
{
    frmDisk->show();
    frmDisk->raise();
}

void frmMain::mnuOptions_Click()
{
    frmOptions::showSingle(m_context);
}

void frmMain::mnuHelp1_Click()
{
    OpenLink(QFile::decodeName(helpPagePath()), m_context, this);
}

void frmMain::mnuAbout_Click()
{
    frmAbout::showSingle(m_context);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (!Form_QueryUnload()) {
        event->ignore();
        return;
    }
    if (objTooltip) // a close served by the start-up's yield comes before the tips
        objTooltip->Destroy();
    event->accept();
}

bool frmMain::Form_QueryUnload()
{
    const bool deleting = m_deletionRun.isRunning();
    const bool cleaning = objDiskPanel && objDiskPanel->isRunning();
    if (!deleting && !cleaning)
        return true;
    // A run in the middle of a file would leave it half overwritten: stop after it and
    // close once the run has returned.
    m_closePending = true;
    if (deleting)
        m_deletionRun.requestStop();
    if (cleaning)
        objDiskPanel->requestStop();
    return false;
}

void frmMain::closeWhenRunsEnded()
{
    if (!m_closePending || m_deletionRun.isRunning() || (objDiskPanel && objDiskPanel->isRunning()))
        return;
    m_closePending = false;
    close();
}

void frmMain::setListCommandsEnabled(bool enabled)
{
    m_listCommandsEnabled = enabled;
    for (QPushButton* button : {cmdAddFile, cmdAddFolder, cmdRemoveFile, cmdClearList, cmdDelete})
        button->setEnabled(enabled);
    List1->setAcceptDrops(enabled);
}

void frmMain::cmdDelete_Click()
{
    if (m_deletionRun.isRunning() || List1->count() == 0)
        return;
    // No entry may be added that the final clearing would drop, and no run may start
    // inside this one.
    setListCommandsEnabled(false);
    std::vector<QByteArray> entries;
    entries.reserve(size_t(List1->count()));
    for (int i = 0; i < List1->count(); ++i)
        entries.push_back(List1->entry(i));
    m_deletionRun.run(std::move(entries));
    setListCommandsEnabled(true);
    closeWhenRunsEnded();
}

void frmMain::cmdAddFile_Click()
{
    const std::optional<QByteArray> chosen = m_context.dialogs->openFile(
        this, QStringLiteral("Select File"), programFolder(), QStringLiteral("All Files (*)"));
    if (chosen && !chosen->isEmpty())
        List1->appendEntry(*chosen);
    else
        m_context.host->yield();
    ScrollBar();
}

void frmMain::cmdAddFolder_Click()
{
    const std::optional<QByteArray> chosen = m_context.dialogs->chooseFolder(
        this, QStringLiteral("Select the directory you wish to ombrevault."));
    if (!chosen || chosen->isEmpty())
        return;
    // Measured before the folder's files are added; the next Add File or Add Folder
    // covers them.
    ScrollBar();
    QByteArray folder = *chosen;
    File1.setPath(folder);
    if (!folder.endsWith('/'))
        folder += '/';
    try {
        File1.Refresh(*m_context.host);
    } catch (const Error& error) {
        m_context.dialogs->messageBox(this, Dialogs::Icon::Exclamation, kTitle,
                                      QStringLiteral("The folder could not be read.\n") +
                                          error.displayPath() + QLatin1Char('\n') +
                                          error.message());
        return;
    }
    List1->setUpdatesEnabled(false);
    for (int i = 0; i < File1.ListCount(); ++i)
        List1->appendEntry(folder + File1.List(i));
    List1->setUpdatesEnabled(true);
}

void frmMain::cmdRemoveFile_Click()
{
    const int selected = List1->currentRow();
    const QListWidgetItem* current =
        selected >= 0 && List1->item(selected)->isSelected() ? List1->item(selected) : nullptr;
    if (!current || current->data(PendingList::PathRole).toByteArray().isEmpty()) {
        m_context.host->yield();
        return;
    }
    delete List1->takeItem(selected);
    List1->clearSelection();
    List1->setCurrentRow(-1);
}

void frmMain::cmdClearList_Click()
{
    List1->clear();
}

bool frmMain::List1_OLEDragOver(const QMimeData* data) const
{
    if (!m_listCommandsEnabled || !data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty())
        return false;
    for (const QUrl& url : urls) {
        if (!isLocalFileUrl(url))
            return false;
    }
    return true;
}

void frmMain::List1_OLEDragDrop(const QMimeData* data)
{
    if (!List1_OLEDragOver(data))
        return;
    for (const QUrl& url : data->urls()) {
        const QByteArray path = localPathBytes(url);
        if (fs::isFolder(path))
            m_context.dialogs->messageBox(
                this, Dialogs::Icon::Information, kTitle,
                QStringLiteral("Can not drag and drop a whole directory."));
        else
            List1->appendEntry(path);
    }
}

int frmMain::ScrollBar()
{
    const int scrollBarWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, List1);
    const QFontMetrics metrics(font());
    int widest = 0;
    for (int i = 0; i < List1->count(); ++i) {
        const int width = metrics.horizontalAdvance(List1->item(i)->text()) + scrollBarWidth;
        if (width >= widest)
            widest = width;
    }
    m_horizontalExtent = widest;
    return widest;
}

void frmMain::Timer2_Timer()
{
    m_context.host->yield();
    objPicBar->BGScroll();
}

void frmMain::setStatus(const QString& text)
{
    lblStatus->setText(text);
}

void frmMain::setTotalFiles(const QString& text)
{
    Label4->setText(text);
}

void frmMain::setFilesDeleted(const QString& text)
{
    Label5->setText(text);
}

void frmMain::setFilesLeft(const QString& text)
{
    Label6->setText(text);
}

void frmMain::setRunning(bool running)
{
    if (running == m_busy)
        return;
    m_busy = running;
    if (running) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        Timer2->start();
    } else {
        QApplication::restoreOverrideCursor();
        Timer2->stop();
    }
}

void frmMain::setPending(const std::vector<QByteArray>& entries)
{
    List1->setEntries(entries);
}

void frmMain::reportNotices(const QStringList& lines)
{
    m_context.dialogs->messageBox(this, Dialogs::Icon::Information, kTitle,
                                  lines.join(QLatin1Char('\n')));
}

void frmMain::reportError(const Error& error)
{
    QString text = QStringLiteral("The deletion run stopped at an error.");
    if (!error.path().isEmpty())
        text += QLatin1Char('\n') + error.displayPath();
    text += QLatin1Char('\n') + error.message();
    m_context.dialogs->messageBox(this, Dialogs::Icon::Stop, kTitle, text);
}

} // namespace ov
