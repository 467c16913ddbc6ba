#pragma once

#include "platform/Error.h"
#include "settings/WipeLevel.h"
#include "wipe/WipeTarget.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace ov {

// Looks at every entry as its wipe would before the first write (it exists, is a regular
// file and no link, may be written, its name may be changed), touching nothing: a list
// that cannot be destroyed whole is not begun. One failure per entry that would fail,
// in the list's order; empty when every entry would pass.
std::vector<Error> precheckEntries(const std::vector<QByteArray>& entries, WipeLevel level,
                                   const WipeEnv& env);

// The failures of a pre-check as one error for one message box: a line per entry.
// Nothing when there are none.
std::optional<Error> precheckFailure(const std::vector<Error>& failures);

} // namespace ov
