#pragma once

#include "platform/BlockingRunner.h"

#include <QByteArray>

#include <vector>

namespace ov {

// Removes repeated entries (equal byte for byte) and returns how many went. Which entry
// of a group stays follows the list box's search order: see the implementation. Yields
// once per position, as the list is walked.
int RemoveDuplicates(std::vector<QByteArray>& list, BlockingRunner& runner);

} // namespace ov
