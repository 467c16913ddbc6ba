#include "ui/main/CommandLine.h"

namespace ov {

namespace {

QByteArray trimBlanks(const QByteArray& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == ' ')
        ++first;
    while (last > first && text.at(last - 1) == ' ')
        --last;
    return text.mid(first, last - first);
}

} // namespace

CommandLine commandLineText(int argc, const char* const* argv)
{
    QByteArray joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            joined += ' ';
        joined += argv[i];
    }
    CommandLine result;
    result.hasArguments = !joined.isEmpty();
    result.text = trimBlanks(joined);
    return result;
}

} // namespace ov
