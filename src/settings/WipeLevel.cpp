#include "settings/WipeLevel.h"

namespace ov {

std::optional<WipeLevel> parseWipeLevel(const QString& text, bool acceptNames)
{
    if (text.isEmpty() || text == QLatin1String("2"))
        return WipeLevel::Medium;
    if (text == QLatin1String("1"))
        return WipeLevel::Least;
    if (text == QLatin1String("3"))
        return WipeLevel::High;
    if (acceptNames) {
        for (WipeLevel level : {WipeLevel::Least, WipeLevel::Medium, WipeLevel::High}) {
            if (text == QLatin1String(wipeLevelName(level)))
                return level;
        }
    }
    return std::nullopt;
}

const char* wipeLevelName(WipeLevel level)
{
    switch (level) {
    case WipeLevel::Least:
        return "least";
    case WipeLevel::High:
        return "high";
    case WipeLevel::Medium:
        break;
    }
    return "medium";
}

QString wipeLevelText(WipeLevel level)
{
    return QString::number(int(level));
}

} // namespace ov
