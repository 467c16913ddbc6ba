#pragma once

#include <QString>

namespace ov {

// The running copy of the three persisted choices. Operations read it afresh for every
// file or run, so a change made in the options dialog applies from the next one on.
struct Settings
{
    // As stored: "1" least, "2" medium, "3" high; empty (never stored) means medium.
    QString SecurityLevel;
    bool LogOperations = false;
    bool ScrambleNames = false;
};

// The one record of the process.
Settings& processSettings();

} // namespace ov
