#include "cli/Commands.h"
#include "platform/Files.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: ombrevault-cli COMMAND [OPTIONS] [ARGUMENTS]\n"
    "Destroys files and the free space of volumes beyond recovery.\n"
    "\n"
    "Commands:\n"
    "  wipe [--level 1|2|3|least|medium|high] [--scramble|--no-scramble]\n"
    "       [--log|--no-log] [--quiet] PATH...\n"
    "                     overwrite files in place, then delete them\n"
    "  drive-info [PATH]  the facts of the volume holding PATH (default: here)\n"
    "  clean-free-space PATH\n"
    "                     fill the free space of the volume holding PATH, then\n"
    "                     delete the filler\n"
    "\n"
    "  --help             show this help\n"
    "  --version          show the version\n"
    "\n"
    "Defaults come from the program's settings. Exit status: 0 success, 1 failure,\n"
    "2 usage error.\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const char* command = argv[1];
    if (!std::strcmp(command, "--help") || !std::strcmp(command, "-h") ||
        !std::strcmp(command, "help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!std::strcmp(command, "--version")) {
        std::printf("ombrevault-cli %s\n", OV_VERSION_STRING);
        return 0;
    }
    ov::fs::ignoreFileSizeLimitSignal();
    std::vector<QByteArray> args;
    for (int i = 2; i < argc; ++i)
        args.emplace_back(argv[i]);
    ov::cli::installInterruptHandler();
    if (!std::strcmp(command, "wipe"))
        return ov::cli::wipeCommand(args);
    if (!std::strcmp(command, "drive-info"))
        return ov::cli::driveInfoCommand(args);
    if (!std::strcmp(command, "clean-free-space"))
        return ov::cli::cleanFreeSpaceCommand(args);
    std::fprintf(stderr, "ombrevault-cli: unknown command '%s'\n\n%s", command, kUsage);
    return 2;
}
