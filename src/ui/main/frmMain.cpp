#include "ui/main/frmMain.h"

#include "settings/SettingsStore.h"
#include "ui/Artwork.h"
#include "ui/Fit.h"
#include "ui/ProgramTitle.h"
#include "ui/Stacking.h"
#include "ui/dialogs/HelpViewer.h"
#include "ui/dialogs/OpenLink.h"
#include "ui/dialogs/frmAbout.h"
#include "ui/dialogs/frmOptions.h"
#include "ui/dialogs/frmViewLog.h"
#include "ui/disk/DiskPanel.h"
#include "ui/file/FilePanel.h"
#include "ui/file/PendingList.h"
#include "ui/main/MainLayout.h"
#include "ui/main/cTooltip.h"

#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QProxyStyle>
#include <QShortcut>

namespace ov {

namespace {

QAction* makeAction(QMenu* menu, const char* name, const QString& text)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    return action;
}

// The menu bar's style where Alt alone moves into the bar, on every desktop style.
class AltKeyMenuStyle : public QProxyStyle
{
public:
    explicit AltKeyMenuStyle(QObject* owner) { setParent(owner); }
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override
    {
        if (hint == SH_MenuBar_AltKeyNavigation || hint == SH_UnderlineShortcut)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

} // namespace

frmMain::frmMain(AppContext& context, const CommandLine& commandLine, QWidget* parent)
    : QMainWindow(parent), m_context(context),
      m_dialogs(context.dialogs, [this] { return fallbackFocus(); }),
      m_panelContext{context.settings, context.store,   context.log,    context.runner,
                     m_dialogs,        context.volumes, context.opener, context.startFolder}
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(programTitle());
    setWindowIcon(programIcon());
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    buildMenu();
    buildPanels();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    Form_Load(commandLine);

    fitToFont();
    // The File Cleaner lies behind the Disk Cleaner: it takes no key until it is shown.
    setCovered(frmFile, true);
    focusFirst(frmDisk, m_diskPanel->firstControl());
}

frmMain::~frmMain() = default;

void frmMain::buildMenu()
{
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuViewLogs = makeAction(mnuFile, "mnuViewLogs", QStringLiteral(" View Logs"));
    mnuExit = makeAction(mnuFile, "mnuExit", QStringLiteral(" E&xit"));

    mnuView = menuBar()->addMenu(QStringLiteral("&View"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuFileCleaner = makeAction(mnuView, "mnuFileCleaner", QStringLiteral(" File Cleaner"));
    mnuDiskCleaner = makeAction(mnuView, "mnuDiskCleaner", QStringLiteral(" Disk Cleaner"));
    mnuBar = mnuView->addSeparator();
    mnuBar->setObjectName(QStringLiteral("mnuBar"));
    mnuOptions = makeAction(mnuView, "mnuOptions", QStringLiteral(" Options"));

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelp1 = makeAction(mnuHelp, "mnuHelp1", QStringLiteral(" Help"));
    mnuAbout = makeAction(mnuHelp, "mnuAbout", QStringLiteral(" About"));

    // The keyboard's way into the menu: F10 opens the first menu, and Alt alone marks
    // the titles' access keys and moves into the bar (the arrows then go to the menu,
    // never to the control that has the focus).
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    f10->setObjectName(QStringLiteral("menuKey"));
    connect(f10, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(mnuFile->menuAction()); });
    menuBar()->setStyle(new AltKeyMenuStyle(this)); // outlives the bar

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
    m_central = new QWidget(this);
    m_central->setObjectName(QStringLiteral("centralWidget"));
    setCentralWidget(m_central);

    Picture1 = new QLabel(m_central);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setAccessibleName(programTitle());
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Created behind the Disk Cleaner panel, which is made afterwards and so lies on top.
    frmFile = new QGroupBox(QStringLiteral("File Wiper"), m_central);
    frmFile->setObjectName(QStringLiteral("frmFile"));
    frmFile->setGeometry(layout::kPanel);
    // The panel in front covers the one behind it completely.
    frmFile->setAutoFillBackground(true);
    m_filePanel = new FilePanel(frmFile, m_panelContext, this);
    connect(m_filePanel, &FilePanel::runFinished, this, &frmMain::closeWhenRunsEnded);
    List1 = m_filePanel->pendingList();

    frmDisk = new QGroupBox(QStringLiteral("Disk Cleaner "), m_central);
    frmDisk->setObjectName(QStringLiteral("frmDisk"));
    frmDisk->setGeometry(layout::kPanel);
    frmDisk->setAutoFillBackground(true);
}

void frmMain::fitToFont()
{
    // Both panels cover the same rectangle: as large as the larger of them needs.
    const QSize fileNeeds = fitToText(frmFile);
    const QSize panel = fileNeeds.expandedTo(neededSize(frmDisk, layout::kPanel.size()));
    m_filePanel->widenBy(panel.width() - fileNeeds.width());
    frmFile->setGeometry(QRect(layout::kPanel.topLeft(), panel));
    frmDisk->setGeometry(QRect(layout::kPanel.topLeft(), panel));
    m_central->setFixedSize(panel.width() + 2 * layout::kMargin,
                            layout::kPanel.y() + panel.height() + layout::kMargin);
    Picture1->setGeometry(0, 0, m_central->width(), layout::kBanner.height());
    drawBanner();
}

void frmMain::growPanels(int height)
{
    // Both panels keep covering the same rectangle.
    for (QWidget* panel : {static_cast<QWidget*>(frmFile), static_cast<QWidget*>(frmDisk)})
        panel->resize(panel->width(), panel->height() + height);
    m_central->setFixedSize(m_central->width(), m_central->height() + height);
}

void frmMain::drawBanner()
{
    m_bannerRatio = devicePixelRatioF();
    Picture1->setPixmap(mainBanner(Picture1->size(), m_bannerRatio));
}

void frmMain::showEvent(QShowEvent* event)
{
    // The screen may have another pixel density than the one the banner was drawn for.
    if (devicePixelRatioF() != m_bannerRatio)
        drawBanner();
    QMainWindow::showEvent(event);
}

void frmMain::Form_Load(const CommandLine& commandLine)
{
    // The entries the command line names: its whole text as one, or each file after the
    // files option (CommandLine.h).
    for (const QByteArray& entry : commandLine.entries)
        List1->appendEntry(entry);
    if (commandLine.entries.empty())
        m_context.runner.yield();

    // The drive panel, showing the volume of the current directory; the frame owns it.
    m_diskPanel = new DiskPanel(frmDisk, m_panelContext, this);
    connect(m_diskPanel, &DiskPanel::runFinished, this, &frmMain::closeWhenRunsEnded);
    connect(m_diskPanel, &DiskPanel::roomNeeded, this, &frmMain::growPanels);

    // The settings.
    LoadSettings(m_context.settings, m_context.store);

    // The tips of the File Cleaner's controls.
    objTooltip = std::make_unique<cTooltip>();
    objTooltip->Create(this);
    objTooltip->setMaxWidth(400);
    int visibleTime = 2000;
    objTooltip->setVisibleTime(visibleTime);
    int delayTime = 400;
    objTooltip->setDelayTime(delayTime);
    m_filePanel->addTips(*objTooltip);

    // The moving band, and its timer at rest.
    m_filePanel->setUpProgressBar();
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
    bringToFront(frmFile, frmDisk, m_filePanel->firstControl());
    frmDisk->hide();
}

void frmMain::mnuDiskCleaner_Click()
{
    frmDisk->show();
    // The File Cleaner stays visible behind it.
    bringToFront(frmDisk, frmFile, m_diskPanel->firstControl());
}

void frmMain::mnuOptions_Click()
{
    frmOptions::showSingle(m_context);
}

void frmMain::mnuHelp1_Click()
{
    // Without a browser the window shows the page itself.
    const QByteArray page = helpPagePath();
    OpenLink(QFile::decodeName(page), m_panelContext, this,
             [&context = m_panelContext, page](QWidget* owner) {
                 return HelpViewer::showPage(page, context, owner);
             });
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
    const bool deleting = m_filePanel->isRunning();
    const bool cleaning = m_diskPanel && m_diskPanel->isRunning();
    if (!deleting && !cleaning)
        return true;
    // A run in the middle of a file would leave it half overwritten: stop after it and
    // close once the run has returned.
    m_closePending = true;
    if (deleting)
        m_filePanel->closeAfterRun();
    if (cleaning)
        m_diskPanel->requestStop();
    return false;
}

void frmMain::closeWhenRunsEnded()
{
    if (!m_closePending || deletionRunning() || (m_diskPanel && m_diskPanel->isRunning()))
        return;
    m_closePending = false;
    close();
}

QWidget* frmMain::fallbackFocus() const
{
    if (m_diskPanel && (isCovered(frmFile) || !frmFile->isVisible()))
        return m_diskPanel->firstControl();
    return List1;
}

bool frmMain::deletionRunning() const
{
    return m_filePanel->isRunning();
}

void frmMain::cmdDelete_Click()
{
    m_filePanel->cmdDelete_Click();
}

bool frmMain::List1_OLEDragOver(const QMimeData* data) const
{
    return m_filePanel->List1_OLEDragOver(data);
}

void frmMain::List1_OLEDragDrop(const QMimeData* data)
{
    m_filePanel->List1_OLEDragDrop(data);
}

int frmMain::ScrollBar()
{
    return m_filePanel->ScrollBar();
}

int frmMain::horizontalExtent() const
{
    return m_filePanel->horizontalExtent();
}

} // namespace ov
