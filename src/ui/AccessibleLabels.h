#pragma once

#include <QAccessible>
#include <QLabel>

namespace ov {

// Makes the program's own widgets known to assistive technology by what they are; every
// widget below that needs it calls it, and so may any other.
void installLabelAccessibles();

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

// Tells a screen reader something it should speak now (the end of a run), as a
// notification of the window it belongs to. Hidden: it is heard, not seen.
class Announcer : public QWidget
{
    Q_OBJECT
public:
    explicit Announcer(QWidget* window);

    const QString& text() const { return m_text; }
    void announce(const QString& text);

private:
    QString m_text;
};

// Announces `text` through the announcer of the window `window` belongs to.
void announce(QWidget* window, const QString& text);

} // namespace ov
