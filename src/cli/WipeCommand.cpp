#include "cli/Commands.h"

#include "platform/Error.h"
#include "platform/PathText.h"
#include "platform/Paths.h"
#include "platform/Terminal.h"
#include "settings/OperationLog.h"
#include "settings/SettingsStore.h"
#include "wipe/DeletionRun.h"
#include "wipe/RemoveDuplicates.h"
#include "wipe/WipeMethods.h"

#include <cerrno>

#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace ov::cli {

namespace {

// Yields are where a wipe has just finished a write: the place to show progress.
class CliLoop : public DirectEngineHost
{
public:
    explicit CliLoop(bool progress) : m_line(progress) {}

    void yield() override
    {
        if (m_line.due())
            draw();
    }

    void setFile(int index, int count, const QByteArray& path)
    {
        m_index = index;
        m_count = count;
        m_path = path;
        draw();
    }

    void finish() { m_line.clear(); }

private:
    void draw()
    {
        static const char spinner[] = "|/-\\";
        QByteArray name = quotedPathBytes(m_path);
        if (name.size() > 40)
            name = "..." + name.right(37);
        m_line.draw(m_count > 0 ? double(m_index) / m_count : 0.0,
                    QByteArray::number(m_index) + '/' + QByteArray::number(m_count) + ' ' +
                        spinner[m_tick++ % 4] + ' ' + name);
    }

    ProgressLine m_line;
    int m_index = 0;
    int m_count = 0;
    unsigned m_tick = 0;
    QByteArray m_path;
};

const char kWipeUsage[] =
    "Usage: ombrevault-cli wipe [--level 1|2|3|least|medium|high] [--scramble|--no-scramble]\n"
    "                           [--log|--no-log] [--quiet] PATH...\n";

int usage(const char* problem, const QByteArray& detail = {})
{
    std::fprintf(stderr, "ombrevault-cli wipe: %s%s\n%s", problem, detail.constData(), kWipeUsage);
    return 2;
}

QByteArray quoted(const QByteArray& path)
{
    return quotedPathBytes(path);
}

} // namespace

int wipeCommand(const std::vector<QByteArray>& args)
{
    SettingsStore store;
    Settings settings;
    LoadSettings(settings, store);
    bool quiet = false;
    std::vector<QByteArray> paths;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const QByteArray& arg = args[i];
        if (optionsEnded || !arg.startsWith("--") || arg == "-") {
            paths.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--level" || arg.startsWith("--level=")) {
            QByteArray value;
            if (arg == "--level") {
                if (++i >= args.size())
                    return usage("--level needs a value");
                value = args[i];
            } else {
                value = arg.mid(8);
            }
            const auto level = parseWipeLevel(QString::fromLocal8Bit(value), true);
            if (!level || value.isEmpty())
                return usage("unknown level ", value);
            settings.SecurityLevel = wipeLevelText(*level);
        } else if (arg == "--scramble") {
            settings.ScrambleNames = true;
        } else if (arg == "--no-scramble") {
            settings.ScrambleNames = false;
        } else if (arg == "--log") {
            settings.LogOperations = true;
        } else if (arg == "--no-log") {
            settings.LogOperations = false;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--help") {
            std::fputs(kWipeUsage, stdout);
            return 0;
        } else {
            return usage("unknown option ", arg);
        }
    }
    if (paths.empty())
        return usage("no file given");
    // Only a stored text that stands for a level: anything else would destroy nothing
    // and must not be reported as done.
    const QString levelText = settings.SecurityLevel;
    const std::optional<WipeLevel> level = parseWipeLevel(levelText);
    if (!level) {
        std::fprintf(stderr,
                     "ombrevault-cli wipe: the stored security level \"%s\" is none of 1, 2, 3; "
                     "choose one with --level\n",
                     levelText.toUtf8().constData());
        return 2;
    }

    // Relative names are made whole, so that what is printed names the file wherever it
    // is read, and "a" and "$PWD/a" are one file.
    const QByteArray here = currentDirectory();
    for (QByteArray& path : paths) {
        if (!path.startsWith('/') && !path.trimmed().isEmpty())
            path = joinPath(here, path);
    }
    CliLoop host(!quiet && terminal::isTerminal(STDERR_FILENO));
    StopChannel& stop = interruptChannel();
    RemoveDuplicates(paths, host);
    const OperationLog log(OperationLog::resolvedPath());
    const WipeEnv env{host, settings, stop, here};
    int failures = 0;
    const int count = int(paths.size());
    for (int i = 0; i < count; ++i) {
        const QByteArray& path = paths[size_t(i)];
        if (stop.requested()) {
            host.finish();
            std::fprintf(stderr, "ombrevault-cli: interrupted; %d file(s) not touched\n",
                         count - i);
            return 1;
        }
        host.setFile(i, count, path);
        try {
            // The window's run passes a blank entry over at the medium level; here it
            // would be reported as destroyed although no file was touched.
            if (path.trimmed().isEmpty())
                throw Error(ENOENT, QStringLiteral("No file name given"), path);
            if (settings.LogOperations)
                log.AppendLog(DeletionLogMessage(path, levelText));
            const WipeOutcome outcome = WipeAtLevel(path, *level, env);
            host.finish();
            if (!outcome.verdict.destroyed()) {
                // Deleted as asked, but the old data is still on the device.
                ++failures;
                std::printf("deleted %s, NOT destroyed: %s\n", quoted(path).constData(),
                            outcome.verdict.explained().toUtf8().constData());
            } else if (!quiet) {
                std::printf("destroyed %s: %s\n", quoted(path).constData(),
                            outcome.verdict.text().toUtf8().constData());
            }
            if (outcome.otherNames > 0)
                std::printf("%s\n",
                            otherNamesNotice(path, outcome.otherNames).toUtf8().constData());
        } catch (const Error& error) {
            host.finish();
            if (error.code() == ECANCELED) {
                std::fprintf(stderr,
                             "ombrevault-cli: interrupted; %s was left part-overwritten (the "
                             "same command again finishes it), %d file(s) not touched\n",
                             quoted(path).constData(), count - i - 1);
                return 1;
            }
            ++failures;
            std::fprintf(stderr, "ombrevault-cli: %s\n", error.text().toUtf8().constData());
        }
        std::fflush(stdout);
    }
    host.setFile(count, count, {});
    host.finish();
    return failures == 0 ? 0 : 1;
}

} // namespace ov::cli
