#include "cli/Commands.h"
#include "cli/Options.h"
#include "platform/Files.h"

#include <cstdio>
#include <cstring>

namespace {

using namespace ov::cli;

struct Command
{
    const char* name;
    QByteArray (*help)();
    int (*run)(const std::vector<QByteArray>&);
    size_t minPaths, maxPaths; // for the commands whose only options are -h and -V
};

const Command kCommands[] = {
    {"wipe", wipeHelp, wipeCommand, 0, 0},
    {"drive-info", driveInfoHelp, driveInfoCommand, 0, 1},
    {"clean-free-space", cleanFreeSpaceHelp, cleanFreeSpaceCommand, 1, 1},
};

const Command* findCommand(const char* name)
{
    for (const Command& command : kCommands) {
        if (!std::strcmp(command.name, name))
            return &command;
    }
    return nullptr;
}

int printed(const QByteArray& text)
{
    std::fputs(text.constData(), stdout);
    return 0;
}

int version()
{
    return printed("ombrevault-cli " OV_VERSION_STRING "\n");
}

enum Id
{
    kHelp = 'h',
    kVersion = 'V',
};

// drive-info and clean-free-space: -h, -V and their path, which reaches the command as a
// word that cannot be mistaken for an option.
int runVolumeCommand(const Command& command, const std::vector<QByteArray>& words)
{
    const ParsedArguments parsed =
        parseArguments(words, {{kHelp, "help", 'h', false}, {kVersion, "version", 'V', false}});
    if (!parsed.problem.isEmpty())
        return usageError(command.name, parsed.problem);
    if (!parsed.options.empty())
        return parsed.options.front().first == kHelp ? printed(command.help()) : version();
    if (parsed.operands.size() < command.minPaths)
        return usageError(command.name, "no path given");
    if (parsed.operands.size() > command.maxPaths)
        return usageError(command.name, "only one path is taken");
    std::vector<QByteArray> paths = parsed.operands;
    for (QByteArray& path : paths) {
        if (path.startsWith('-'))
            path.prepend("./");
    }
    installInterruptHandler();
    return command.run(paths);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usageError(nullptr, "no command given");
    const char* word = argv[1];
    if (!std::strcmp(word, "--help") || !std::strcmp(word, "-h") || !std::strcmp(word, "help")) {
        if (argc < 3 || std::strcmp(word, "help"))
            return printed(programHelp());
        const Command* command = findCommand(argv[2]);
        if (!command)
            return usageError(nullptr, "unknown command " + quotedWord(argv[2]));
        return printed(command->help());
    }
    if (!std::strcmp(word, "--version") || !std::strcmp(word, "-V"))
        return version();
    const Command* command = findCommand(word);
    if (!command) {
        const char* what = word[0] == '-' ? "unknown option" : "unknown command";
        return usageError(nullptr, what + (" " + quotedWord(word)));
    }
    ov::fs::ignoreFileSizeLimitSignal();
    ov::fs::raiseDescriptorLimit();
    const std::vector<QByteArray> words(argv + 2, argv + argc);
    if (command->run == wipeCommand)
        return wipeCommand(words);
    return runVolumeCommand(*command, words);
}
