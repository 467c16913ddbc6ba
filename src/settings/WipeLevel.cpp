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
        if (text == QLatin1String("least"))
            return WipeLevel::Least;
        if (text == QLatin1String("medium"))
            return WipeLevel::Medium;
        if (text == QLatin1String("high"))
            return WipeLevel::High;
    }
    return std::nullopt;
}

QString wipeLevelText(WipeLevel level)
{
    return QString::number(int(level));
}

} // namespace ov
