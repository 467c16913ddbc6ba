#include "ui/main/TipWindow.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTextOption>

#include <cmath>

namespace ov {

namespace {

constexpr int kBorder = 1;
constexpr int kPaddingX = 4;
constexpr int kPaddingY = 2;
constexpr int kGapBelowControl = 2;
constexpr int kGapBelowPointer = 20; // clears the arrow pointer

} // namespace

TipWindow::TipWindow(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                          Qt::WindowTransparentForInput | Qt::BypassWindowManagerHint)
{
    setObjectName(QStringLiteral("cTooltipWindow"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setForegroundRole(QPalette::ToolTipText);
    setBackgroundRole(QPalette::ToolTipBase);
    setAutoFillBackground(true);
    m_delayTimer.setSingleShot(true);
    m_popTimer.setSingleShot(true);
    // Coarse timers may fire early; a tip must not show before its delay.
    m_delayTimer.setTimerType(Qt::PreciseTimer);
    m_popTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_delayTimer, &QTimer::timeout, this, &TipWindow::showTip);
    connect(&m_popTimer, &QTimer::timeout, this, [this] { hideTip(true); });
}

// Qt removes a destroyed object's event filters by itself.
TipWindow::~TipWindow() = default;

void TipWindow::setMaxTipWidth(int pixels)
{
    m_maxWidth = pixels;
    if (isVisible())
        layoutText();
}

void TipWindow::addTool(QWidget* tool, const QString& text, bool centred)
{
    m_tools.insert(tool, Tool{text, centred});
    auto watch = [this, tool](QObject* object) {
        if (m_watched.contains(object))
            return;
        m_watched.insert(object, tool);
        object->installEventFilter(this);
        connect(object, &QObject::destroyed, this, &TipWindow::forget);
    };
    watch(tool);
    tool->setMouseTracking(true);
    // A scrolling control gets its mouse movements on its viewport.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(tool)) {
        area->viewport()->setMouseTracking(true);
        watch(area->viewport());
    }
}

void TipWindow::forget(QObject* gone)
{
    if (m_current == gone || m_watched.value(gone) == m_current)
        hideTip(false);
    m_tools.remove(gone);
    m_watched.remove(gone);
}

namespace {

// The tip of the entry under the pointer, when the control is a list whose entries have
// their own (the whole path of a pending file, cut off by the list's edge).
QString entryTip(QWidget* tool)
{
    auto* view = qobject_cast<QAbstractItemView*>(tool);
    if (!view)
        return {};
    const QModelIndex index = view->indexAt(view->viewport()->mapFromGlobal(QCursor::pos()));
    return index.data(Qt::ToolTipRole).toString();
}

} // namespace

QWidget* TipWindow::toolOf(QObject* watched) const
{
    return m_watched.value(watched);
}

bool TipWindow::eventFilter(QObject* watched, QEvent* event)
{
    QWidget* tool = toolOf(watched);
    if (!tool)
        return false;
    switch (event->type()) {
    case QEvent::Enter:
        if (watched == tool)
            enterTool(tool);
        break;
    case QEvent::Leave:
        if (watched == tool)
            leaveTool();
        break;
    case QEvent::MouseMove:
        enterTool(tool); // the mouse has not rested yet: the delay starts again
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
        if (m_current == tool)
            hideTip(true);
        break;
    case QEvent::Hide:
        if (m_current == tool)
            leaveTool();
        break;
    case QEvent::ToolTip:
        // The entries' tips are shown here, in the same window as the control's own.
        return qobject_cast<QAbstractItemView*>(tool) != nullptr;
    default:
        break;
    }
    return false;
}

void TipWindow::enterTool(QWidget* tool)
{
    if (m_current != tool) {
        hideTip(false);
        m_current = tool;
    }
    if (!isVisible() && !m_suppressed)
        m_delayTimer.start(m_initialDelay);
}

void TipWindow::leaveTool()
{
    hideTip(false);
    m_current = nullptr;
}

void TipWindow::hideTip(bool untilLeave)
{
    m_delayTimer.stop();
    m_popTimer.stop();
    m_suppressed = untilLeave; // a tip that timed out waits until the mouse has left
    hide();
}

void TipWindow::layoutText()
{
    const qreal limit =
        m_maxWidth > 0 ? qMax(1, m_maxWidth - 2 * (kBorder + kPaddingX)) : qreal(1e6);
    QString text = m_text;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    m_layout = std::make_unique<QTextLayout>(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_layout->setTextOption(option);
    qreal y = 0;
    qreal widest = 0;
    m_layout->beginLayout();
    for (;;) {
        QTextLine line = m_layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(limit);
        line.setPosition(QPointF(0, y));
        y += line.height();
        widest = qMax(widest, line.naturalTextWidth());
    }
    m_layout->endLayout();
    int width = int(std::ceil(widest)) + 2 * (kBorder + kPaddingX);
    if (m_maxWidth > 0)
        width = qMin(width, m_maxWidth);
    resize(width, int(std::ceil(y)) + 2 * (kBorder + kPaddingY));
}

void TipWindow::showTip()
{
    if (!m_current || !m_current->isVisible())
        return;
    const Tool tool = m_tools.value(m_current);
    if (tool.text.isEmpty())
        return;
    const QString entry = entryTip(m_current);
    m_text = entry.isEmpty() ? tool.text : entry;
    // The window's own font: a tip is plain text whatever its control looks like.
    setFont(parentWidget() ? parentWidget()->font() : QFont());
    layoutText();

    QPoint at;
    if (tool.centred && entry.isEmpty()) {
        const QPoint below = m_current->mapToGlobal(
            QPoint(m_current->width() / 2, m_current->height() + kGapBelowControl));
        at = QPoint(below.x() - width() / 2, below.y());
    } else {
        at = QCursor::pos() + QPoint(0, kGapBelowPointer);
    }
    QScreen* screen = m_current->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        at.setX(qBound(area.left(), at.x(), qMax(area.left(), area.right() - width() + 1)));
        if (at.y() + height() - 1 > area.bottom()) // no room below: above the control
            at.setY(m_current->mapToGlobal(QPoint(0, 0)).y() - height() - kGapBelowControl);
        at.setY(qMax(area.top(), at.y()));
    }
    move(at);
    show();
    update();
    m_popTimer.start(m_autoPop);
}

void TipWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::ToolTipText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (m_layout)
        m_layout->draw(&painter, QPointF(kBorder + kPaddingX, kBorder + kPaddingY));
}

} // namespace ov
