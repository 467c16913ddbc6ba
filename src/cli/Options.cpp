#include "cli/Options.h"

#include "platform/PathText.h"

#include <getopt.h>

namespace ov::cli {

namespace {

// An option as the user wrote it, for a message: "--name" (without any "=value") or "-x".
QByteArray optionWord(const char* word, int shortOption)
{
    const QByteArray text(word);
    if (text.startsWith("--"))
        return text.left(text.indexOf('=') < 0 ? text.size() : text.indexOf('='));
    return QByteArray("-") + char(shortOption);
}

// The long options a word abbreviates, to tell an ambiguous one from an unknown one.
std::vector<QByteArray> candidates(const QByteArray& word, const std::vector<OptionRule>& rules)
{
    std::vector<QByteArray> names;
    const QByteArray typed = word.mid(2);
    for (const OptionRule& rule : rules) {
        if (QByteArray(rule.longName).startsWith(typed))
            names.push_back(QByteArray("--") + rule.longName);
    }
    return names;
}

} // namespace

QByteArray quotedWord(const QByteArray& word)
{
    // Quoted as a name would be, so that whatever the word holds prints as one piece.
    const QByteArray text = quotedPathBytes(word);
    return text.startsWith('\'') ? text : '\'' + text + '\'';
}

ParsedArguments parseArguments(const std::vector<QByteArray>& words,
                               const std::vector<OptionRule>& rules)
{
    ParsedArguments parsed;
    // getopt_long wants a C argument vector; the words stay alive in `copies`.
    std::vector<QByteArray> copies{QByteArray("ombrevault-cli")};
    copies.insert(copies.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (QByteArray& word : copies)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // "-": operands come back in order as option 1, whatever POSIXLY_CORRECT says, so
    // that an option after a file name is never taken for a file. ":": a missing value
    // is told apart from an unknown option.
    QByteArray shortOptions = "-:";
    std::vector<option> longOptions;
    for (const OptionRule& rule : rules) {
        if (rule.shortName) {
            shortOptions += rule.shortName;
            if (rule.takesValue)
                shortOptions += ':';
        }
        longOptions.push_back(option{
            rule.longName, rule.takesValue ? required_argument : no_argument, nullptr, rule.id});
    }
    longOptions.push_back(option{nullptr, 0, nullptr, 0});

    const int argc = int(argv.size()) - 1;
    opterr = 0; // the messages are ours
    optind = 0; // a fresh start, also for a second parse in one process
    for (;;) {
        const int id =
            getopt_long(argc, argv.data(), shortOptions.constData(), longOptions.data(), nullptr);
        if (id == -1)
            break;
        const char* word = argv[size_t(optind - 1)];
        if (id == 1) {
            parsed.operands.emplace_back(optarg);
        } else if (id == ':') {
            parsed.problem = "option " + quotedWord(optionWord(word, optopt)) + " needs a value";
            return parsed;
        } else if (id == '?') {
            const QByteArray name = optionWord(word, optopt);
            if (name.startsWith("--") && optopt != 0) {
                parsed.problem = "option " + quotedWord(name) + " takes no value";
            } else if (const auto names = candidates(name, rules);
                       name.startsWith("--") && names.size() > 1) {
                parsed.problem = "option " + quotedWord(name) + " is ambiguous; it could be";
                for (const QByteArray& candidate : names)
                    parsed.problem += ' ' + candidate;
            } else {
                parsed.problem = "unknown option " + quotedWord(name);
            }
            return parsed;
        } else {
            parsed.options.emplace_back(id, optarg ? QByteArray(optarg) : QByteArray());
        }
    }
    for (int i = optind; i < argc; ++i)
        parsed.operands.emplace_back(argv[size_t(i)]);
    return parsed;
}

} // namespace ov::cli
