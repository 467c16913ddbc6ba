#include "ui/Stacking.h"

#include <QEvent>
#include <QWidget>

namespace ov {

namespace {

// How many covers lie over a widget, and its own focus policy while they do.
constexpr char kDepth[] = "ov_coverDepth";
constexpr char kPolicy[] = "ov_focusPolicyUncovered";
constexpr char kCovered[] = "ov_covered";
constexpr char kGuardName[] = "ov_keyGuard";
constexpr char kHiddenByCover[] = "ov_hiddenByCover";

// Swallows every key a covered control would get, should it ever hold the focus.
class KeyGuard : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::InputMethod:
            return isCovered(qobject_cast<QWidget*>(watched));
        default:
            return false;
        }
    }
};

KeyGuard* guardOf(QWidget* container)
{
    auto* guard =
        container->findChild<KeyGuard*>(QLatin1String(kGuardName), Qt::FindDirectChildrenOnly);
    if (!guard) {
        guard = new KeyGuard(container);
        guard->setObjectName(QLatin1String(kGuardName));
    }
    return guard;
}

// A widget with a focus proxy passes its policy on to the proxy, which is covered on
// its own: its policy is left alone.
void cover(QWidget* widget, KeyGuard* guard)
{
    const int depth = widget->property(kDepth).toInt();
    if (depth == 0 && !widget->focusProxy()) {
        widget->setProperty(kPolicy, int(widget->focusPolicy()));
        widget->setFocusPolicy(Qt::NoFocus);
    }
    widget->setProperty(kDepth, depth + 1);
    widget->installEventFilter(guard);
}

void uncover(QWidget* widget, KeyGuard* guard)
{
    widget->removeEventFilter(guard);
    const int depth = widget->property(kDepth).toInt();
    if (depth <= 0)
        return;
    widget->setProperty(kDepth, depth - 1);
    if (depth == 1 && !widget->focusProxy())
        widget->setFocusPolicy(Qt::FocusPolicy(widget->property(kPolicy).toInt()));
}

bool canTakeFocus(const QWidget* widget)
{
    return widget && (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() &&
           widget->isVisibleTo(widget->window()) && !isCovered(widget);
}

} // namespace

void setCovered(QWidget* container, bool covered, Cover how)
{
    if (!container || container->property(kCovered).toBool() == covered)
        return;
    container->setProperty(kCovered, covered);
    KeyGuard* guard = guardOf(container);
    QList<QWidget*> widgets = container->findChildren<QWidget*>();
    widgets.prepend(container);
    for (QWidget* widget : widgets) {
        if (widget->isWindow())
            continue; // a window of its own is not under the cover
        covered ? cover(widget, guard) : uncover(widget, guard);
    }
    if (covered) {
        QWidget* focus = container->window()->focusWidget();
        if (focus && (focus == container || container->isAncestorOf(focus)))
            focus->clearFocus();
    }
    // What is not seen must not be showing to assistive technology either (a screen
    // reader's review reads whatever is showing, covered or not): the hidden state is the
    // one it reads. A container covered whole is hidden; of one that still shows a strip,
    // only what it holds. What was hidden for another reason stays hidden.
    QList<QWidget*> hideable;
    if (how == Cover::Whole || !covered)
        hideable << container;
    if (how == Cover::Partly || !covered) {
        for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isWindow())
                hideable << child;
        }
    }
    for (QWidget* widget : hideable) {
        if (covered) {
            widget->setProperty(kHiddenByCover, widget->isVisibleTo(widget->parentWidget()));
            widget->hide();
        } else if (widget->property(kHiddenByCover).toBool()) {
            widget->setProperty(kHiddenByCover, false);
            widget->show();
        }
    }
}

bool isCovered(const QWidget* widget)
{
    for (const QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        if (w->property(kCovered).toBool())
            return true;
    }
    return false;
}

bool focusFirst(QWidget* container, QWidget* first)
{
    if (!container)
        return false;
    QWidget* candidate = first ? first : container;
    for (QWidget* w = candidate;;) {
        if (canTakeFocus(w) && (w == container || container->isAncestorOf(w))) {
            w->setFocus(Qt::OtherFocusReason);
            return true;
        }
        w = w->nextInFocusChain();
        if (!w || w == candidate)
            return false;
    }
}

void bringToFront(QWidget* front, QWidget* behind, QWidget* first)
{
    const bool whole = front->geometry().contains(behind->geometry());
    setCovered(behind, true, whole ? Cover::Whole : Cover::Partly);
    front->raise();
    setCovered(front, false);
    focusFirst(front, first);
}

} // namespace ov
