#include "cli/Commands.h"

#include "platform/Terminal.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace ov::cli {

namespace {

// Where a UTF-8 character starts (not a continuation byte).
bool startsCharacter(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xc0) != 0x80;
}

int characterWidth(char lead)
{
    return static_cast<unsigned char>(lead) < 0x80 ? 1 : 2;
}

// The end of the text, cut at a character's start so that it takes at most `width`.
QByteArray lastColumns(const QByteArray& text, int width)
{
    int used = 0;
    qsizetype from = text.size();
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (!startsCharacter(text[i]))
            continue;
        used += characterWidth(text[i]);
        if (used > width)
            break;
        from = i;
    }
    return text.mid(from);
}

QByteArray firstColumns(const QByteArray& text, int width)
{
    int used = 0;
    qsizetype i = 0;
    for (; i < text.size(); ++i) {
        if (startsCharacter(text[i])) {
            used += characterWidth(text[i]);
            if (used > width)
                break;
        }
    }
    return text.left(i);
}

QByteArray bar(double fraction, int width)
{
    const int filled = int(width * std::clamp(fraction, 0.0, 1.0));
    return '[' + QByteArray(filled, '#') + QByteArray(width - filled, ' ') + "] ";
}

} // namespace

int displayWidth(const QByteArray& utf8)
{
    int width = 0;
    for (char byte : utf8) {
        if (startsCharacter(byte))
            width += characterWidth(byte);
    }
    return width;
}

QByteArray fitProgressLine(double fraction, const std::vector<std::vector<QByteArray>>& sets,
                           const QByteArray& name, int columns)
{
    const int room = std::max(columns, 1) - 1;
    const auto joined = [](const std::vector<QByteArray>& figures, size_t count) {
        QByteArray line;
        for (size_t i = 0; i < count && i < figures.size(); ++i)
            line += (i > 0 ? "  " : "") + figures[i];
        return line;
    };
    // Each candidate is a bar width and the figures before the name; the first that fits
    // is drawn. Every set whole (the first one with a bar if there is room), then the
    // last set giving up its figures from the end.
    std::vector<std::pair<int, QByteArray>> candidates;
    for (size_t set = 0; set < sets.size(); ++set) {
        for (const int barWidth : {20, 10, 0}) {
            if (set == 0 || barWidth == 0)
                candidates.emplace_back(barWidth, joined(sets[set], sets[set].size()));
        }
    }
    if (!sets.empty()) {
        for (size_t count = sets.back().size(); count-- > 1;)
            candidates.emplace_back(0, joined(sets.back(), count));
    }
    for (const bool withName : {true, false}) {
        if (withName && name.isEmpty())
            continue;
        for (const auto& [barWidth, figures] : candidates) {
            const QByteArray line = (barWidth > 0 ? bar(fraction, barWidth) : "") + figures;
            const int left = room - displayWidth(line);
            if (!withName && left >= 0)
                return line;
            // A name is worth showing only with a good part of its end.
            const int wanted = std::min(displayWidth(name), barWidth > 0 ? 16 : 10);
            if (withName && left - 2 >= wanted) {
                const QByteArray shown =
                    displayWidth(name) <= left - 2 ? name : "..." + lastColumns(name, left - 5);
                return line + "  " + shown;
            }
        }
    }
    // Not even the shortest figure fits: as much of it as does.
    return firstColumns(candidates.empty() ? name : candidates.back().second, room);
}

QByteArray sizeText(qint64 bytes, bool compact)
{
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return QByteArray::number(bytes) + (compact ? "B" : " B");
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    const double decimalsBelow = compact ? 9.95 : 99.95;
    const QByteArray number = QByteArray::number(value, 'f', value < decimalsBelow ? 1 : 0);
    return compact ? number + units[unit][0] : number + ' ' + units[unit];
}

QByteArray durationText(qint64 seconds)
{
    const qint64 hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
    const auto two = [](qint64 n) { return QByteArray::number(n).rightJustified(2, '0'); };
    if (hours > 0)
        return QByteArray::number(hours) + ':' + two(minutes) + ':' + two(rest);
    return QByteArray::number(minutes) + ':' + two(rest);
}

bool ProgressLine::due()
{
    if (!m_enabled || m_clock.elapsed() < 100)
        return false;
    m_clock.restart();
    return true;
}

void ProgressLine::draw(double fraction, const QByteArray& text)
{
    draw(fraction, {{text}}, {});
}

void ProgressLine::draw(double fraction, const std::vector<std::vector<QByteArray>>& figures,
                        const QByteArray& name)
{
    if (!m_enabled)
        return;
    // Asked at every drawing: the window may have been made narrower meanwhile.
    const int columns = terminal::columns(STDERR_FILENO);
    show(fitProgressLine(fraction, figures, name, columns > 0 ? columns : 80));
}

void ProgressLine::show(const QByteArray& line)
{
    std::fprintf(stderr, "\r\033[K%s", line.constData());
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressLine::clear()
{
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_drawn = false;
}

} // namespace ov::cli
