#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>

namespace ov::cli {

bool ProgressLine::due()
{
    if (!m_enabled || m_clock.elapsed() < 100)
        return false;
    m_clock.restart();
    return true;
}

void ProgressLine::draw(double fraction, const QByteArray& text)
{
    if (!m_enabled)
        return;
    constexpr int width = 30;
    const int filled = int(width * std::clamp(fraction, 0.0, 1.0));
    std::fprintf(stderr, "\r\033[K[%.*s%.*s] %s", filled, "##############################",
                 width - filled, "                              ", text.constData());
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressLine::clear()
{
    if (m_drawn)
        std::fputs("\r\033[K", stderr);
    m_drawn = false;
}

} // namespace ov::cli
