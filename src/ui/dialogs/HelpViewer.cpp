#include "ui/dialogs/HelpViewer.h"

#include "platform/BlockingRunner.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "ui/AppContext.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace ov {

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Ombrevault Help"));
    setAccessibleName(windowTitle());
    setAttribute(Qt::WA_DeleteOnClose);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("HelpPage"));
    m_browser->setAccessibleName(QStringLiteral("Help page"));
    // Only the page's own anchors are followed; nothing is fetched or handed on.
    m_browser->setOpenExternalLinks(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_close = buttons->button(QDialogButtonBox::Close);
    m_close->setObjectName(QStringLiteral("cmdClose"));
    m_close->setAccessibleName(QStringLiteral("Close"));
    // Enter closes the window unless a link in the page has the focus.
    m_close->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    layout->addWidget(buttons);

    // A page of text: about 80 columns wide, most of the screen high.
    const QFontMetrics metrics(m_browser->font());
    QSize size(metrics.horizontalAdvance(QLatin1Char('n')) * 90, metrics.lineSpacing() * 40);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize() * 9 / 10);
    resize(size);
    m_browser->setFocus();
}

bool HelpViewer::showPage(const QByteArray& page, AppContext& context, QWidget* parent)
{
    QByteArray content;
    try {
        // The page may sit on a slow or sleeping disk.
        context.runner.runBlocking([&] { content = fs::readFile(page); });
    } catch (const Error&) {
        return false;
    }
    HelpViewer* viewer =
        parent ? parent->findChild<HelpViewer*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!viewer)
        viewer = new HelpViewer(parent);
    viewer->m_browser->setHtml(QString::fromUtf8(content));
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return true;
}

} // namespace ov
