#pragma once

#include <QByteArray>

#include <vector>

namespace ov::cli {

// One option a command understands.
struct OptionRule
{
    int id;               // a short option's letter, or a number from 256 for a long-only one
    const char* longName; // without the dashes
    char shortName;       // 0 when there is none
    bool takesValue;
};

// A command's words, taken apart as GNU programs take them: options anywhere among the
// operands, short options clustered (-sq) and with attached values (-l1), long ones with
// "=" or the next word as value and as unambiguous abbreviations, and "--" ending the
// options (every word after it is an operand, "-" alone is always one).
struct ParsedArguments
{
    std::vector<std::pair<int, QByteArray>> options; // id and value, in the order given
    std::vector<QByteArray> operands;
    // Why the words are not a valid command line ("unknown option '-z'"); empty when they
    // are. Nothing may be done then.
    QByteArray problem;
};

// A word of the command line in a message: in single quotes, escaped as `ls` escapes a
// name, so that whatever it holds prints as one piece.
QByteArray quotedWord(const QByteArray& word);

ParsedArguments parseArguments(const std::vector<QByteArray>& words,
                               const std::vector<OptionRule>& rules);

} // namespace ov::cli
