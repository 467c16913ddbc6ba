#include "cli/Commands.h"

#include "platform/PathText.h"
#include "settings/OperationLog.h"
#include "settings/SettingsStore.h"

#include <cstdio>

namespace ov::cli {

namespace {

const char kCommonOptions[] = "  -h, --help             show this help\n"
                              "  -V, --version          show the version\n";

// Where this user's settings and log are, as this run would find them.
QByteArray places()
{
    const SettingsStore store;
    const QByteArray machine = store.machineFile(RegistryRoot::HKEY_LOCAL_MACHINE);
    const QByteArray own = store.writeFile(RegistryRoot::HKEY_LOCAL_MACHINE);
    QByteArray text =
        "Settings (the window's View > Options edits them):\n  " + quotedPathBytes(own) + "\n";
    if (own != machine)
        text += "  " + quotedPathBytes(machine) + " (for every user, read after it)\n";
    return text + "Operation log:\n  " + quotedPathBytes(OperationLog::resolvedPath()) + "\n";
}

} // namespace

QByteArray programHelp()
{
    return "Usage: ombrevault-cli COMMAND [OPTION]... [ARGUMENT]...\n"
           "Destroys files, and the free space of volumes, beyond recovery.\n"
           "\n"
           "Commands:\n"
           "  wipe [OPTION]... PATH...  overwrite files in place, then delete them\n"
           "  drive-info [PATH]         the facts of the volume holding PATH\n"
           "  clean-free-space PATH     fill the free space of the volume holding PATH,\n"
           "                            then delete the filler\n"
           "  help [COMMAND]            this help, or the help of a command\n"
           "\n" +
           QByteArray(kCommonOptions) +
           "\n"
           "'ombrevault-cli COMMAND --help' explains the options of a command.\n"
           "Exit status: 0 success, 1 failure, 2 usage error.\n"
           "\n" +
           places();
}

QByteArray wipeHelp()
{
    return "Usage: ombrevault-cli wipe [OPTION]... PATH...\n"
           "Overwrites each file in place with fixed byte patterns at the security level,\n"
           "every pass flushed to the disk, renames it to ovlxx.ovl in its folder when\n"
           "names are scrambled, and deletes it. Each destroyed file is reported on\n"
           "standard output as \"destroyed PATH: VERDICT\", a failure on standard error;\n"
           "the other files are still done. Names are quoted as ls quotes them.\n"
           "\n"
           "Options (anywhere among the paths):\n"
           "  -l, --level=LEVEL      the security level (below); default: the stored one,\n"
           "                         medium when none is stored\n"
           "  -s, --scramble         rename each file to ovlxx.ovl before deleting it\n"
           "                         (least and high levels; the medium level never renames)\n"
           "      --no-scramble      delete each file under its own name\n"
           "      --log              append a line for each file to the operation log\n"
           "      --no-log           leave the operation log alone\n"
           "      --no-verify        do not read the overwritten blocks back (the file's\n"
           "                         place on the device is still compared)\n"
           "      --json             one JSON object per file on standard output: path,\n"
           "                         destroyed, verdict, kind, layer, cause, reason,\n"
           "                         advice, caveat (a failure: kind \"failed\", reason)\n"
           "      --clean-names      afterwards, write over what each volume touched still\n"
           "                         keeps of deleted names (journal, log, metadata)\n"
           "  -r, --recursive        destroy every file under each named folder, hidden ones\n"
           "                         too, depth first; remove symbolic links, FIFOs and\n"
           "                         sockets in them by name (nothing is written through or\n"
           "                         followed), refuse device nodes, and remove the folders\n"
           "                         once empty. Without it a folder is refused.\n"
           "  -x, --one-file-system  with -r, enter no folder on another file system\n"
           "  -f, --force            make a read-only file writable by its owner first, at\n"
           "                         every level (its mode comes back if the wipe fails)\n"
           "  -n, --dry-run          list what would be destroyed and what would fail;\n"
           "                         touch nothing\n"
           "  -i, --interactive      ask once, on the terminal, before destroying anything;\n"
           "                         the answer is read from standard input\n"
           "  -v, --verbose          also report each link, FIFO, socket and folder removed,\n"
           "                         the level and settings in use, and a summary\n"
           "  -q, --quiet            report failures only (no progress, no \"destroyed\")\n" +
           QByteArray(kCommonOptions) +
           "  --                     end of the options: every word after it is a path\n"
           "\n"
           "Levels:\n"
           "  1, least   three passes over the whole file: zero, 0xFF and zero bytes\n"
           "  2, medium  \"X\" then \"0\" over every block and one block past the end, then\n"
           "             four short passes of a pattern from the start\n"
           "  3, high    11 rounds of three passes (zero, 0xFF and zero bytes) in small\n"
           "             chunks\n"
           "\n"
           "Verdicts, after the last pass has reached the disk:\n"
           "  verified on the device  the old blocks were read back and hold what was\n"
           "                          written\n"
           "  overwritten (WHY)       in place and flushed, but not read back\n"
           "  not reached (WHY)       the old bytes are still on the device (copy-on-write,\n"
           "                          a snapshot or a copy shares them): the file is\n"
           "                          deleted as asked, reported as \"deleted PATH, NOT\n"
           "                          destroyed\" with what to do, and counts as a failure\n"
           "\n"
           "Progress: on a terminal, one line on standard error with the bytes done of the\n"
           "bytes to do, the rate, the time left and the file in hand.\n"
           "\n"
           "Exit status:\n"
           "  0  every named file destroyed\n"
           "  1  a file could not be destroyed, was not reached or was left alone, or the\n"
           "     question of -i was not answered yes\n"
           "  2  a usage error: nothing was touched\n"
           "SIGINT (Ctrl+C), SIGTERM and SIGHUP: the write in hand is finished and flushed,\n"
           "the file left part-overwritten is named (running the same command again\n"
           "finishes it), the files after it are not touched, and the program ends by the\n"
           "same signal, so that a script or loop that runs it stops too.\n"
           "\n" +
           places();
}

QByteArray driveInfoHelp()
{
    return "Usage: ombrevault-cli drive-info [PATH]\n"
           "Shows the facts of the mounted volume holding PATH (the current folder when none\n"
           "is given): its mount point and label, serial number, total, free and available\n"
           "space, type, file system and whether it is compressed.\n"
           "\n"
           "Options:\n" +
           QByteArray(kCommonOptions) +
           "  --                     end of the options: the word after it is the path\n"
           "\n"
           "Exit status: 0 the facts were shown, 1 no volume there or it does not answer,\n"
           "2 a usage error.\n";
}

QByteArray cleanFreeSpaceHelp()
{
    return "Usage: ombrevault-cli clean-free-space PATH\n"
           "Fills the free space of the volume holding PATH with the temporary file\n"
           "ovtempx.dat in the volume's top folder until less than 10,000 bytes remain\n"
           "free, then deletes it, so that the remains of files deleted long ago are\n"
           "overwritten too. On a terminal a progress line shows the amount cleaned.\n"
           "SIGINT (Ctrl+C), SIGTERM and SIGHUP stop the run after the write in hand: the\n"
           "temporary file is deleted, and the program then ends by the same signal, so\n"
           "that a script or loop that runs it stops too.\n"
           "\n"
           "Options:\n" +
           QByteArray(kCommonOptions) +
           "  --                     end of the options: the word after it is the path\n"
           "\n"
           "Exit status: 0 done, 1 a failure or no volume there, 2 a usage error.\n"
           "\n" +
           places();
}

int usageError(const char* command, const QByteArray& problem)
{
    const QByteArray name =
        QByteArray("ombrevault-cli") + (command ? QByteArray(" ") + command : "");
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", name.constData(),
                 problem.constData(), name.constData());
    return 2;
}

} // namespace ov::cli
