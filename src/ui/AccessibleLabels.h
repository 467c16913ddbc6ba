#pragma once

#include <QAccessible>
#include <QLabel>

namespace ov {

// A label that shows a changing value: a counter, a status line, a notice. Assistive
// technology reads it by the caption it is given as its accessible name and gets the
// value as its text; each change of the value is announced.
class ValueLabel : public QLabel
{
    Q_OBJECT
public:
    ValueLabel(const QString& text, QWidget* parent,
               QAccessible::Role role = QAccessible::StaticText);

    // Hides QLabel::setText: the one way the program changes the value.
    void setText(const QString& text);
    QAccessible::Role accessibleRole() const { return m_role; }
    // A text too long for the label is shortened in the middle on screen (text() stays
    // whole), so that both the start and the reason at the end of a failure show.
    void setElideMiddle(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QAccessible::Role m_role;
    bool m_elideMiddle = false;
};

// A label that is a link: it takes the focus by Tab, shows it, and opens with Enter or
// Space as with a click. Assistive technology sees a link with a press action.
class LinkLabel : public QLabel
{
    Q_OBJECT
public:
    LinkLabel(const QString& text, QWidget* parent);

signals:
    void activated();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ov
