#include "cli/Commands.h"

#include "platform/Error.h"
#include "platform/Paths.h"
#include "settings/OperationLog.h"
#include "settings/SettingsStore.h"
#include "wipe/RemoveDuplicates.h"
#include "wipe/WipeMethods.h"

#include <cerrno>

#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace ov::cli {

namespace {

struct Interrupted
{
};

// Yields are where a wipe has just finished a write: the place to show progress and to
// notice Ctrl-C.
class CliLoop : public DirectEngineHost
{
public:
    explicit CliLoop(bool progress) : m_line(progress) {}

    void yield() override
    {
        if (interruptRequested())
            throw Interrupted{};
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
        QByteArray name = m_path;
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

std::optional<QString> levelFromArgument(const QByteArray& text)
{
    if (text == "1" || text == "least")
        return QStringLiteral("1");
    if (text == "2" || text == "medium")
        return QStringLiteral("2");
    if (text == "3" || text == "high")
        return QStringLiteral("3");
    return std::nullopt;
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
            auto level = levelFromArgument(value);
            if (!level)
                return usage("unknown level ", value);
            settings.SecurityLevel = *level;
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
    // Relative names are made whole: scrambling renames within the file's folder, and
    // "a" and "$PWD/a" are one file.
    const QByteArray here = currentDirectory();
    for (QByteArray& path : paths) {
        if (!path.startsWith('/') && !path.trimmed().isEmpty())
            path = joinPath(here, path);
    }
    const QString level = settings.SecurityLevel;
    if (!level.isEmpty() && !levelFromArgument(level.toUtf8())) {
        std::fprintf(stderr,
                     "ombrevault-cli wipe: the stored security level \"%s\" is none of 1, 2, 3; "
                     "choose one with --level\n",
                     level.toUtf8().constData());
        return 2;
    }

    CliLoop loop(!quiet && ::isatty(STDERR_FILENO));
    try {
        RemoveDuplicates(paths, loop);
    } catch (const Interrupted&) {
        loop.finish();
        std::fputs("ombrevault-cli: interrupted; no file was touched\n", stderr);
        return 1;
    }
    const OperationLog log(OperationLog::resolvedPath());
    int failures = 0;
    const int count = int(paths.size());
    for (int i = 0; i < count; ++i) {
        const QByteArray& path = paths[size_t(i)];
        loop.setFile(i, count, path);
        try {
            // The window's run passes a blank entry over at the medium level; here it
            // would be reported as destroyed although no file was touched.
            if (path.trimmed().isEmpty())
                throw Error(ENOENT, QStringLiteral("No file name given"), path);
            if (settings.LogOperations)
                log.AppendLog(DeletionLogMessage(path, level));
            WipeAtLevel(path, level, settings, loop); // the level was checked above
            loop.finish();
            if (!quiet)
                std::printf("destroyed %s\n", path.constData());
        } catch (const Error& error) {
            loop.finish();
            ++failures;
            std::fprintf(stderr, "ombrevault-cli: %s\n", error.text().toUtf8().constData());
        } catch (const Interrupted&) {
            loop.finish();
            std::fprintf(stderr,
                         "ombrevault-cli: interrupted; %s was left half-wiped, %d file(s) "
                         "not touched\n",
                         path.constData(), count - i - 1);
            return 1;
        }
        std::fflush(stdout);
    }
    loop.setFile(count, count, {});
    loop.finish();
    return failures == 0 ? 0 : 1;
}

} // namespace ov::cli
