#pragma once

#include <QString>

#include <optional>

namespace ov {

// The File Cleaner's security level. Stored as the text "1", "2" or "3"; the empty
// text (nothing ever stored) means medium.
enum class WipeLevel
{
    Least = 1,
    Medium = 2,
    High = 3,
};

// The level a stored text stands for; nothing for any other text. With `acceptNames`,
// "least", "medium" and "high" are understood too (typed on a command line).
std::optional<WipeLevel> parseWipeLevel(const QString& text, bool acceptNames = false);
// The stored text of a level: "1", "2" or "3".
QString wipeLevelText(WipeLevel level);
// The level's name as the user reads and types it: "least", "medium" or "high".
const char* wipeLevelName(WipeLevel level);

} // namespace ov
