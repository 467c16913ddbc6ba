#pragma once

namespace ov::terminal {

// Whether the descriptor is a terminal (progress is drawn only there).
bool isTerminal(int fd);
// The terminal's width in columns; 0 when it cannot be told.
int columns(int fd);

} // namespace ov::terminal
