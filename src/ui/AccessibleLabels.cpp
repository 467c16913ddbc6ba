#include "ui/AccessibleLabels.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace ov {

namespace {

// The label's value as read-only text, by offsets into it.
class ValueLabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ValueLabelAccessible(ValueLabel* label)
        : QAccessibleWidget(label, label->accessibleRole())
    {}

    ValueLabel* label() const { return static_cast<ValueLabel*>(widget()); }

    // A label with nothing to say is not read out (an empty notice, a cleared status).
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (label()->text().isEmpty())
            state.invisible = true;
        return state;
    }

    QString text(QAccessible::Text kind) const override
    {
        switch (kind) {
        case QAccessible::Name: {
            const QString name = label()->accessibleName();
            return name.isEmpty() ? label()->text() : name;
        }
        case QAccessible::Value:
            return label()->text();
        default:
            return QAccessibleWidget::text(kind);
        }
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // QAccessibleTextInterface: the value, never selected, without a cursor.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override
    {
        return label()->text().mid(start, end - start);
    }
    int characterCount() const override { return int(label()->text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = *end = offset;
        return {};
    }
};

class LinkLabelAccessible : public QAccessibleWidget
{
public:
    explicit LinkLabelAccessible(LinkLabel* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            emit static_cast<LinkLabel*>(widget())->activated();
        else
            QAccessibleWidget::doAction(action);
    }
};

// What a screen reader speaks as it appears: a notification, named by its text.
class AnnouncerAccessible : public QAccessibleWidget
{
public:
    explicit AnnouncerAccessible(Announcer* announcer)
        : QAccessibleWidget(announcer, QAccessible::Notification)
    {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name || kind == QAccessible::Description)
            return static_cast<Announcer*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* labelAccessible(const QString& className, QObject* object)
{
    // The one picture box is the File Cleaner's moving band: a progress indicator, not
    // a frame (a frame is a top-level window to assistive technology).
    if (className == QLatin1String("ov::PictureBox"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::ProgressBar);
    if (className == QLatin1String("ov::Announcer"))
        return new AnnouncerAccessible(static_cast<Announcer*>(object));
    if (className == QLatin1String("ov::ValueLabel"))
        return new ValueLabelAccessible(static_cast<ValueLabel*>(object));
    if (className == QLatin1String("ov::LinkLabel"))
        return new LinkLabelAccessible(static_cast<LinkLabel*>(object));
    return nullptr;
}

} // namespace

void installLabelAccessibles()
{
    static const bool installed = [] {
        QAccessible::installFactory(labelAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

ValueLabel::ValueLabel(const QString& text, QWidget* parent, QAccessible::Role role)
    : QLabel(text, parent), m_role(role)
{
    installLabelAccessibles();
}

void ValueLabel::setText(const QString& text)
{
    const QString before = QLabel::text();
    if (text == before)
        return;
    QLabel::setText(text);
    QAccessibleTextUpdateEvent changed(this, 0, before, text);
    QAccessible::updateAccessibility(&changed);
}

void ValueLabel::setElideMiddle(bool on)
{
    m_elideMiddle = on;
    update();
}

void ValueLabel::paintEvent(QPaintEvent* event)
{
    if (!m_elideMiddle) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, int(alignment()) | Qt::TextSingleLine, shown);
}

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    installLabelAccessibles();
    setFocusPolicy(Qt::StrongFocus);
}

void LinkLabel::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (!event->isAutoRepeat())
            emit activated();
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void LinkLabel::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.backgroundColor = palette().color(QPalette::Window);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

Announcer::Announcer(QWidget* window) : QWidget(window)
{
    installLabelAccessibles();
    setObjectName(QStringLiteral("announcer"));
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
    hide();
}

void Announcer::announce(const QString& text)
{
    // Orca speaks a notification as it comes to show; Qt 6.4 has no announcement event,
    // and its bridge passes alerts on to no one. Hidden first, so that each news shows
    // anew; it stays showing (without a pixel of its own) until the next one.
    hide();
    m_text = text;
    show();
    if (!isVisible()) { // a window not shown yet sends no show of its children
        QAccessibleEvent shown(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
}

void announce(QWidget* window, const QString& text)
{
    if (!window)
        return;
    QWidget* top = window->window();
    auto* announcer = top->findChild<Announcer*>(QString(), Qt::FindDirectChildrenOnly);
    if (!announcer)
        announcer = new Announcer(top);
    announcer->announce(text);
}

} // namespace ov
