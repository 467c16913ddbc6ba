#include "ui/main/CommandLine.h"

#include "platform/PathText.h"

#include <cstring>

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

// A local file URI is the path it names; anything else, a URI of another machine
// included, is taken as the path it spells.
QByteArray pathOfArgument(const QByteArray& argument)
{
    return localPathOfFileUri(argument).value_or(argument);
}

} // namespace

CommandLine commandLineText(int argc, const char* const* argv)
{
    CommandLine result;
    if (argc > 1 && std::strcmp(argv[1], kFilesOption) == 0) {
        for (int i = 2; i < argc; ++i) {
            if (*argv[i] != '\0')
                result.entries.push_back(pathOfArgument(argv[i]));
        }
        return result;
    }
    QByteArray joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            joined += ' ';
        joined += argv[i];
    }
    if (!joined.isEmpty())
        result.entries.push_back(trimBlanks(joined));
    return result;
}

} // namespace ov
