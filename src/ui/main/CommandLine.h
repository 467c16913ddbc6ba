#pragma once

#include <QByteArray>

namespace ov {

// The program's arguments as one text: everything after the program's own name, joined
// by single blanks, with leading and trailing blanks removed. Taken from the raw argv,
// before QApplication removes the options it understands. An empty result means no
// argument text at all; an all-blank argument text gives an empty entry of its own,
// which `hasArguments` tells apart.
struct CommandLine
{
    QByteArray text;
    bool hasArguments = false;
};

CommandLine commandLineText(int argc, const char* const* argv);

} // namespace ov
