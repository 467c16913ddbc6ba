#include "cli/Commands.h"

#include "diskclean/FreeSpaceRun.h"
#include "diskclean/NameCleaner.h"
#include "drive/DriveInfo.h"
#include "platform/Error.h"
#include "platform/FileSystemKind.h"
#include "platform/Files.h"
#include "platform/FillPlace.h"
#include "platform/LinuxVolumes.h"
#include "platform/MountTable.h"
#include "platform/Paths.h"
#include "platform/Terminal.h"
#include "platform/Termination.h"
#include "settings/OperationLog.h"
#include "settings/SettingsStore.h"

#include <cstdio>
#include <unistd.h>

namespace ov::cli {

namespace {

const char kDriveInfoUsage[] = "Usage: ombrevault-cli drive-info [PATH]\n";
const char kCleanUsage[] = "Usage: ombrevault-cli clean-free-space PATH\n";

QByteArray local(const QString& text)
{
    return text.toLocal8Bit();
}

// Why a volume that is not present has no facts.
const char* notPresentReason(int driveType)
{
    return driveType == kDriveNoRootDir ? "no mounted volume there" : "the volume does not answer";
}

// Whether overwriting a file there reaches the blocks that held its data, and if not why.
QByteArray overwritesInPlace(const QByteArray& fileSystem)
{
    const FileSystemKind kind = fileSystemKindByName(fileSystem);
    if (kind.writes == WriteKind::InPlace)
        return "Yes";
    return (kind.writes == WriteKind::Unknown ? "Unknown: " : "No: ") +
           local(writeKindReason(kind));
}

void printRow(const char* caption, const QByteArray& value)
{
    std::printf("%-22s %s\n", caption, value.constData());
}

// The panel's rows: the seven facts, or the type and the not-present notice.
bool printFacts(CDriveInfo& info)
{
    // The drive list's entry text: the mount point, then the label in brackets. A volume
    // that is not present was not asked for its facts: its label is none.
    const MountEntry entry{MountTable::stripRoot(info.Drive()),
                           info.Present() ? info.Label() : QByteArray()};
    printRow("Drive:", entry.entryText());
    if (info.Present()) {
        printRow("Volume Serial Number:", local(info.SerialNumberEx()));
        printRow("Total Space:", local(CDriveInfo::FormatSize(info.TotalSpace(), true)));
        printRow("Total Free Space:", local(CDriveInfo::FormatSize(info.FreeSpace(), true)));
        printRow("Available Free Space:",
                 local(CDriveInfo::FormatSize(info.AvailableSpace(), true)));
        printRow("Drive Type:", local(info.DriveTypeEx()));
        printRow("File System Name:", info.FileSystem());
        printRow("Volume Compressed:", info.FileSystemFlag(kVolumeIsCompressed) ? "True" : "False");
        printRow("Overwrites In Place:", overwritesInPlace(info.FileSystem()));
        return true;
    }
    const int type = info.DriveType();
    printRow("Drive Type:", local(CDriveInfo::driveTypeText(type)));
    const QString notice = CDriveInfo::notPresentNotice(type);
    if (!notice.isEmpty())
        std::printf("%s\n", local(notice).constData());
    return false;
}

// The command line's event loop: its yields are where the progress bar is drawn. A
// termination signal reaches the run through its stop channel directly.
class CleanLoop : public InPlaceRunner
{
public:
    explicit CleanLoop(bool progress) : m_line(progress) {}

    void attach(FreeSpaceRun* run, std::int64_t freeAtStart)
    {
        m_run = run;
        m_freeAtStart = freeAtStart;
    }

    void yield() override
    {
        if (m_run && m_line.due())
            draw();
    }

    void finish() { m_line.clear(); }

private:
    void draw()
    {
        if (const int percent = m_run->namesPercent(); percent >= 0) {
            m_line.draw(percent / 100.0,
                        QByteArray::number(percent).rightJustified(3) + "% names of deleted files");
            return;
        }
        const std::int64_t cleaned = m_run->cleanedBytes();
        const double fraction = m_freeAtStart > 0 ? double(cleaned) / double(m_freeAtStart) : 0.0;
        const int percent = int(100 * std::min(fraction, 1.0));
        m_line.draw(fraction, QByteArray::number(percent).rightJustified(3) + "% " +
                                  local(CDriveInfo::FormatSize(cleaned, false)) + " cleaned");
    }

    ProgressLine m_line;
    FreeSpaceRun* m_run = nullptr;
    std::int64_t m_freeAtStart = 0;
};

// The panel's controls, on a terminal: the error report goes to stderr, the rest is
// remembered for the closing line.
class CliView : public FreeSpaceView
{
public:
    explicit CliView(QByteArray designator) : m_designator(std::move(designator)) {}

    QByteArray driveDesignator() const override { return m_designator; }
    void setStatusText(const QString& text) override { status = text; }
    void setCleanedText(const QString& text) override { cleaned = text; }
    void setLeftText(const QString& text) override { left = text; }
    void setStopInFront(bool) override {}
    void setStartEnabled(bool) override {}
    void setDriveListEnabled(bool) override {}
    void showErrorReport(int, const QString& text) override
    {
        if (beforeReport)
            beforeReport();
        std::fprintf(stderr, "ombrevault-cli clean-free-space: %s\n", local(text).constData());
    }
    // The plain reason: the path and the system's message.
    void showFailure(int, const Error& error) override
    {
        if (beforeReport)
            beforeReport();
        std::fprintf(stderr, "ombrevault-cli clean-free-space: %s\n",
                     local(error.text()).constData());
    }
    void showUnreached(const QStringList&) override {}

    QString status;
    QString cleaned;
    QString left;
    std::function<void()> beforeReport;

private:
    QByteArray m_designator;
};

} // namespace

int cleanNamesAfterWipe(const std::vector<QByteArray>& paths, StopChannel& stop)
{
    InPlaceRunner runner;
    int status = 0;
    for (const QByteArray& folder : fillplace::oneFolderPerVolume(paths)) {
        if (stop.requested())
            return 1;
        try {
            bool stopped = false;
            for (const QString& line : NameCleaner::cleanVolume(folder, runner, stop, &stopped))
                std::printf("%s\n", local(line).constData());
            std::fflush(stdout);
            if (stopped)
                return 1;
        } catch (const Error& error) {
            std::fprintf(stderr, "ombrevault-cli wipe: names of deleted files may remain: %s\n",
                         local(error.text()).constData());
            status = 1;
        }
    }
    return status;
}

int driveInfoCommand(const std::vector<QByteArray>& args)
{
    if (args.size() > 1 || (args.size() == 1 && args[0].startsWith('-'))) {
        std::fputs(kDriveInfoUsage, args.size() == 1 && args[0] == "--help" ? stdout : stderr);
        return args.size() == 1 && args[0] == "--help" ? 0 : 2;
    }
    InPlaceRunner loop;
    LinuxVolumes volumes(loop);
    try {
        CDriveInfo info(volumes);
        if (!args.empty())
            info.Drive(args[0]);
        if (printFacts(info)) {
            const QByteArray given = args.empty() ? currentDirectory() : args[0];
            for (const QString& line :
                 FreeSpaceRun::leftoverNotices(fs::isFolder(given) ? given : QByteArray(),
                                               MountTable::stripRoot(info.Drive())))
                std::printf("%s\n", local(line).constData());
            return 0;
        }
        std::fprintf(stderr, "ombrevault-cli drive-info: %s: %s\n",
                     MountTable::stripRoot(info.Drive()).constData(),
                     notPresentReason(info.DriveType()));
        return 1;
    } catch (const Error& error) {
        std::fprintf(stderr, "ombrevault-cli drive-info: %s\n", local(error.text()).constData());
        return 1;
    }
}

int cleanFreeSpaceCommand(const std::vector<QByteArray>& args)
{
    if (args.size() == 1 && args[0] == "--help") {
        std::fputs(kCleanUsage, stdout);
        return 0;
    }
    if (args.size() != 1 || args[0].startsWith('-')) {
        std::fputs(kCleanUsage, stderr);
        return 2;
    }
    CleanLoop loop(terminal::isTerminal(STDERR_FILENO));
    // The run shows no label or serial number: no need to read the device for them.
    LinuxVolumes volumes(loop, std::chrono::seconds(2), false);
    try {
        SettingsStore store;
        Settings settings;
        LoadSettings(settings, store);
        const OperationLog log(OperationLog::resolvedPath());

        CDriveInfo info(volumes, args[0]);
        const QByteArray mountPoint = MountTable::stripRoot(info.Drive());
        const std::int64_t freeAtStart = info.FreeSpace();
        if (!info.Present()) {
            const int type = info.DriveType();
            const QString notice = CDriveInfo::notPresentNotice(type);
            std::fprintf(stderr, "ombrevault-cli clean-free-space: %s: %s (%s)%s%s\n",
                         mountPoint.constData(), notPresentReason(type),
                         local(CDriveInfo::driveTypeText(type)).constData(),
                         notice.isEmpty() ? "" : " ", local(notice).constData());
            return 1;
        }
        // The filler goes in the folder named, when this user may write there.
        CliView view(fs::isFolder(args[0]) ? args[0] : mountPoint);
        FreeSpaceRun run(info, view, loop, interruptChannel(), settings, &log);
        view.beforeReport = [&] { loop.finish(); };
        loop.attach(&run, freeAtStart);
        std::printf("Cleaning the free space of %s: %s free\n", mountPoint.constData(),
                    local(CDriveInfo::FormatSize(freeAtStart, true)).constData());
        std::fflush(stdout);
        run.run();
        loop.finish();
        const char* ending = "Done";
        switch (run.lastOutcome()) {
        case FreeSpaceRun::Outcome::Stopped:
            ending = "Stopped";
            break;
        case FreeSpaceRun::Outcome::Failed:
            ending = "Failed";
            break;
        default:
            break;
        }
        std::printf("%s: %s cleaned, %s left\n", ending,
                    local(CDriveInfo::FormatSize(run.cleanedBytes(), true)).constData(),
                    local(CDriveInfo::FormatSize(run.lastFreeBytes(), true)).constData());
        for (const QString& line : run.unreached())
            std::printf("%s\n", local(line).constData());
        std::fflush(stdout);
        // Stopped by a termination signal: the filler is gone, now end by that signal.
        if (const int signal = termination::received())
            termination::endBy(signal);
        return run.lastOutcome() == FreeSpaceRun::Outcome::Failed ? 1 : 0;
    } catch (const Error& error) {
        loop.finish();
        std::fprintf(stderr, "ombrevault-cli clean-free-space: %s\n",
                     local(error.text()).constData());
        return 1;
    }
}

} // namespace ov::cli
