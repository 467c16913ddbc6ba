#pragma once

#include <QSize>

class QWidget;

namespace ov {

// The room a control needs for its text in its font: a control that wraps its text keeps
// its width and needs the height of its lines at that width; any other control needs its
// size hint. A control with a layout needs what the layout asks for.
QSize neededSize(const QWidget* widget, const QSize& least);

// Lays out the controls of a container that places them by hand. The places and sizes
// they were given first are the least they get: a control grows where its font needs more
// room, and what lies to its right or below it moves along, so that nothing overlaps that
// did not overlap before; controls that lined up on their left or top edge stay lined
// up. Containers inside without a layout of their own are laid out the same way first.
// Returns the size the container needs (its first size at least, its margins kept); the
// caller sizes the container.
QSize fitToText(QWidget* container);

} // namespace ov
