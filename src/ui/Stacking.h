#pragma once

class QWidget;

namespace ov {

// Keeps the keyboard and assistive technology with what the user can see. A container
// that a sibling covers keeps its place; covered whole it is hidden (nothing of it shows
// anyway), covered partly (a strip of its frame still shows) what it holds is hidden. Its
// controls leave the Tab chain and ignore every key until it is uncovered. Covers nest: a control
// is free again when the last cover over it is lifted.
enum class Cover
{
    Whole,
    Partly
};
void setCovered(QWidget* container, bool covered, Cover how = Cover::Whole);
// Whether the widget or one of its ancestors is covered.
bool isCovered(const QWidget* widget);

// Brings `front` to the front of its siblings and frees it, covers `behind`, and gives
// the focus to `first`, or to the next control of `front` that can take it.
void bringToFront(QWidget* front, QWidget* behind, QWidget* first);

// Gives the focus to `first` when it can take it, else to the next control inside
// `container` in the Tab chain; false when none can.
bool focusFirst(QWidget* container, QWidget* first);

} // namespace ov
