#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/TreeWalk.h"

#include "platform/Error.h"
#include "platform/PathText.h"
#include "platform/Paths.h"
#include "platform/Terminal.h"
#include "platform/Termination.h"
#include "settings/OperationLog.h"
#include "settings/SettingsStore.h"
#include "wipe/DeletionRun.h"
#include "wipe/RemoveDuplicates.h"
#include "wipe/WipeBatch.h"
#include "wipe/WipeMethods.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace ov::cli {

namespace {

const char kCommand[] = "wipe";

enum OptionId
{
    kLevel = 'l',
    kScramble = 's',
    kVerbose = 'v',
    kQuiet = 'q',
    kRecursive = 'r',
    kForce = 'f',
    kOneFileSystem = 'x',
    kDryRun = 'n',
    kInteractive = 'i',
    kHelp = 'h',
    kVersion = 'V',
    kNoScramble = 256,
    kLog,
    kNoLog,
    kNoVerify,
    kCleanNames,
};

const std::vector<OptionRule> kOptions = {
    {kLevel, "level", 'l', true},
    {kScramble, "scramble", 's', false},
    {kNoScramble, "no-scramble", 0, false},
    {kLog, "log", 0, false},
    {kNoLog, "no-log", 0, false},
    {kNoVerify, "no-verify", 0, false},
    {kCleanNames, "clean-names", 0, false},
    {kRecursive, "recursive", 'r', false},
    {kOneFileSystem, "one-file-system", 'x', false},
    {kForce, "force", 'f', false},
    {kDryRun, "dry-run", 'n', false},
    {kInteractive, "interactive", 'i', false},
    {kVerbose, "verbose", 'v', false},
    {kQuiet, "quiet", 'q', false},
    {kHelp, "help", 'h', false},
    {kVersion, "version", 'V', false},
};

// What the command line asks for, with the stored settings filled in.
struct Request
{
    Settings settings;
    WipeLevel level = WipeLevel::Medium;
    bool scrambleAsked = false;
    bool verbose = false;
    bool quiet = false;
    bool recursive = false;
    bool force = false;
    bool oneFileSystem = false;
    bool dryRun = false;
    bool interactive = false;
    bool readBack = true;
    bool cleanNames = false;
    std::vector<QByteArray> paths;
};

void say(const QByteArray& text)
{
    std::fprintf(stderr, "ombrevault-cli: %s\n", text.constData());
}

QByteArray local(const QString& text)
{
    return text.toUtf8();
}

const char* levelName(WipeLevel level)
{
    switch (level) {
    case WipeLevel::Least:
        return "least";
    case WipeLevel::High:
        return "high";
    case WipeLevel::Medium:
        break;
    }
    return "medium";
}

// The bytes a level writes to destroy a file of `length` bytes, for the progress line.
qint64 expectedWrites(WipeLevel level, qint64 length)
{
    switch (level) {
    case WipeLevel::Least:
        return 3 * length;
    case WipeLevel::Medium: {
        const qint64 blocks = length / 4096 + 1;
        return 2 * blocks * 4096 + 4 * (blocks + 10000);
    }
    case WipeLevel::High: {
        const auto covered = [&](qint64 chunk) {
            return std::max<qint64>(roundedChunkCount(length, chunk) * chunk, length);
        };
        return 11 * (2 * covered(14) + covered(10));
    }
    }
    return length;
}

// A path as the user named it, made whole: relative ones are taken from the current
// folder, and "//" and "/./" inside are made plain, so that "a" and "./a" are one file
// and what is printed names the file wherever it is read. The last name stays as given,
// with the slashes after it: "./" and "a/./" still name a folder by ".", which -r refuses.
QByteArray wholePath(const QByteArray& path, const QByteArray& here)
{
    const QByteArray whole = path.startsWith('/') ? path : joinPath(here, path);
    const QList<QByteArray> parts = whole.split('/');
    qsizetype lastName = parts.size() - 1;
    while (lastName > 0 && parts[lastName].isEmpty())
        --lastName;
    QByteArray result;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i < lastName && (parts[i].isEmpty() || parts[i] == "."))
            continue;
        result += '/' + parts[i];
    }
    return result;
}

// The progress of the whole command in bytes, drawn at the engine's yields. The engine
// tells every write; the writes a level makes are known from the lengths, so that the
// line shows the data destroyed of the data to destroy.
class Progress : public DirectEngineHost
{
public:
    explicit Progress(bool enabled) : m_line(enabled) {}

    bool enabled() const { return m_line.enabled(); }
    void plan(qint64 writes, qint64 data)
    {
        m_plannedWrites = writes;
        m_plannedData = data;
    }
    void startFile(const QByteArray& path)
    {
        m_path = path;
        m_fileWritten = 0;
        if (!m_clock.isValid())
            m_clock.start();
    }
    void wrote(std::size_t bytes)
    {
        m_written += qint64(bytes);
        m_fileWritten += qint64(bytes);
    }
    qint64 fileWritten() const { return m_fileWritten; }

    void yield() override
    {
        // Nothing to show before the first file is taken in hand (duplicates, counting).
        if (m_clock.isValid() && m_line.due())
            draw();
    }
    void clear() { m_line.clear(); }

private:
    void draw()
    {
        const double fraction =
            m_plannedWrites > 0 ? std::min(1.0, double(m_written) / double(m_plannedWrites)) : 0;
        const qint64 done = qint64(fraction * double(m_plannedData));
        const double seconds = double(m_clock.elapsed()) / 1000.0;
        const QByteArray percent = QByteArray::number(int(fraction * 100)) + "% ";
        std::vector<QByteArray> wide{percent + sizeText(done) + " of " + sizeText(m_plannedData)};
        std::vector<QByteArray> compact{percent + sizeText(done, true) + '/' +
                                        sizeText(m_plannedData, true)};
        if (seconds >= 1 && done > 0) {
            const double rate = double(done) / seconds;
            const QByteArray left =
                durationText(qint64(double(m_plannedData - done) / rate)) + " left";
            wide.insert(wide.end(), {sizeText(qint64(rate)) + "/s", left});
            compact.insert(compact.end(), {left, sizeText(qint64(rate), true) + "/s"});
        }
        m_line.draw(fraction, {wide, compact}, quotedPathBytes(m_path));
    }

    ProgressLine m_line;
    QElapsedTimer m_clock;
    qint64 m_plannedWrites = 0;
    qint64 m_plannedData = 0;
    qint64 m_written = 0;
    qint64 m_fileWritten = 0;
    QByteArray m_path;
};

// What a walk would meet, counted before anything is touched: for the question of -i
// and the progress line.
class Counter : public WalkVisitor
{
public:
    explicit Counter(WipeLevel level) : m_level(level) {}

    void namedFile(const QByteArray& path) override
    {
        if (const auto info = fs::lookAt(path); info && info->isRegular())
            add(*info);
    }
    void file(const fs::Folder&, const QByteArray&, const fs::EntryInfo& info) override
    {
        add(info);
    }
    void special(const fs::Folder&, const QByteArray&, const fs::EntryInfo&) override { ++others; }
    void emptied(const fs::Folder&, const QByteArray&) override { ++folders; }
    void failed(const Error&) override {}

    qint64 files = 0, bytes = 0, writes = 0, others = 0, folders = 0;

private:
    void add(const fs::EntryInfo& info)
    {
        ++files;
        bytes += info.size;
        writes += expectedWrites(m_level, info.size);
    }
    WipeLevel m_level;
};

const char* kindOf(const fs::EntryInfo& info)
{
    if (S_ISLNK(info.mode))
        return "symbolic link";
    if (S_ISFIFO(info.mode))
        return "FIFO";
    return "socket";
}

// Reports, in the same words whether it destroys or only says what it would destroy.
class Reporter : public WalkVisitor
{
public:
    Reporter(const Request& request, Progress& progress) : m_request(request), m_progress(progress)
    {}

    void failed(const Error& error) override
    {
        // A folder kept by a failure inside it, which was told already.
        if (error.message().isEmpty())
            return;
        ++failures;
        m_progress.clear();
        QByteArray text = local(error.text());
        if (error.code() == EISDIR && !m_request.recursive)
            text += " (-r destroys a folder and everything in it)";
        say(text);
    }

    int failures = 0;
    qint64 destroyed = 0, notReached = 0, removedOthers = 0, removedFolders = 0;

protected:
    // A line of stdout: the record of what was done.
    void record(const QByteArray& text, bool always = false)
    {
        if (m_request.quiet || (!always && !m_request.verbose))
            return;
        m_progress.clear();
        std::printf("%s\n", text.constData());
        std::fflush(stdout);
    }
    static void requireBlankFree(const QByteArray& path)
    {
        // A blank word names no file; the medium level would pass it over untouched.
        if (path.trimmed().isEmpty())
            throw Error(ENOENT, QStringLiteral("No file name given"), path);
    }

    const Request& m_request;
    Progress& m_progress;
};

// -n: every check a wipe makes before its first byte, and nothing else.
class DryRun : public Reporter
{
public:
    DryRun(const Request& request, Progress& progress, const WipeEnv& env)
        : Reporter(request, progress), m_env(env),
          m_rules(WipeRules(request.level, true, request.settings, request.force))
    {}

    void namedFile(const QByteArray& path) override
    {
        requireBlankFree(path);
        const WipeTarget target = WipeTarget::prepare(path, m_rules, m_env);
        record("would destroy " + quotedPathBytes(path), true);
    }
    void file(const fs::Folder& folder, const QByteArray& name, const fs::EntryInfo&) override
    {
        const WipeTarget target = WipeTarget::prepareIn(folder.duplicate(), name, m_rules, m_env);
        record("would destroy " + quotedPathBytes(folder.pathOf(name)), true);
    }
    void special(const fs::Folder& folder, const QByteArray& name,
                 const fs::EntryInfo& info) override
    {
        record("would remove " + quotedPathBytes(folder.pathOf(name)) + " (" + kindOf(info) + ")",
               true);
    }
    void emptied(const fs::Folder& parent, const QByteArray& name) override
    {
        record("would remove folder " + quotedPathBytes(parent.pathOf(name)), true);
    }

private:
    const WipeEnv& m_env;
    WipeTarget::Rules m_rules;
};

// What a stop left: the files part-overwritten, and those taken in hand but not touched.
struct Interrupted
{
    std::vector<QByteArray> partOverwritten;
    qint64 untouched = 0;
};

class Destroyer : public Reporter
{
public:
    Destroyer(const Request& request, Progress& progress, const WipeEnv& env,
              const OperationLog* log)
        : Reporter(request, progress), m_env(env), m_log(log), m_batch(env)
    {}

    void namedFile(const QByteArray& path) override
    {
        requireBlankFree(path);
        if (batched())
            return toBatch(path, [&] { m_batch.add(path); });
        destroy(path, [&] { return WipeAtLevel(path, m_request.level, m_env); });
    }
    void file(const fs::Folder& folder, const QByteArray& name, const fs::EntryInfo&) override
    {
        const QByteArray path = folder.pathOf(name);
        if (batched())
            return toBatch(path, [&] { m_batch.add(folder, name); });
        destroy(path, [&] { return WipeInFolder(folder, name, m_request.level, m_env); });
    }
    void special(const fs::Folder& folder, const QByteArray& name,
                 const fs::EntryInfo& info) override
    {
        step(folder, folder.pathOf(name), [this, name, info](const fs::Folder& held) {
            // Only the name goes: whatever a link points at, and whatever is behind a
            // FIFO or a socket, is left alone. A name that meanwhile leads elsewhere too.
            const std::optional<fs::EntryInfo> now = held.lookAt(name);
            if (!now || now->id != info.id || now->mode != info.mode)
                throw Error(EAGAIN, QStringLiteral("Was replaced while the folder was walked"),
                            held.pathOf(name));
            held.remove(name);
            held.sync();
            ++removedOthers;
            record("removed " + quotedPathBytes(held.pathOf(name)) + " (" + kindOf(info) + ")");
        });
    }
    void emptied(const fs::Folder& parent, const QByteArray& name) override
    {
        step(parent, parent.pathOf(name), [this, name](const fs::Folder& held) {
            // A file inside that failed keeps the folder; that failure has been told.
            if (failedBelow(held.pathOf(name)))
                throw Error(ENOTEMPTY, QString(), held.pathOf(name));
            held.removeFolder(name);
            held.sync();
            ++removedFolders;
            record("removed folder " + quotedPathBytes(held.pathOf(name)));
        });
    }
    // What still waits for the batch.
    void finish()
    {
        if (!m_waiting.empty())
            runBatch();
    }
    // After a stop: the files waiting for the batch were not touched.
    void dropWaiting()
    {
        interrupted.untouched += std::count_if(m_waiting.begin(), m_waiting.end(),
                                               [](const Waiting& w) { return !w.step; });
        m_waiting.clear();
    }

    Interrupted interrupted;
    qint64 attempted = 0; // files taken in hand (or into the batch)

private:
    // Many files at the least level go together (WipeBatch): the same checks, passes and
    // endings, with one flush of the volume per pass. What the walk meets meanwhile
    // waits with them, so that everything happens in the walk's order.
    bool batched() const { return m_request.level == WipeLevel::Least; }

    // A file of the batch (no step), or a step to take once the files before it are done.
    struct Waiting
    {
        QByteArray path;
        std::function<void()> step;
    };

    void logLine(const QByteArray& path) const
    {
        // Written before the file is touched, as the window's run writes it.
        if (m_log)
            m_log->AppendLog(DeletionLogMessage(path, m_request.settings.SecurityLevel));
    }

    template <class Add> void toBatch(const QByteArray& path, Add&& add)
    {
        ++attempted;
        logLine(path);
        add();
        m_waiting.push_back({path, {}});
        if (m_batch.full() || m_waiting.size() >= kMostWaiting)
            runBatch();
    }

    // A step in `folder` now, or, when files wait for the batch, after them (holding the
    // folder meanwhile).
    template <class Step> void step(const fs::Folder& folder, const QByteArray& path, Step&& act)
    {
        if (m_waiting.empty())
            return act(folder);
        auto held = std::make_shared<fs::Folder>(folder.duplicate());
        m_waiting.push_back({path, [held, act] { act(*held); }});
        if (m_waiting.size() >= kMostWaiting)
            runBatch();
    }

    void runBatch()
    {
        std::vector<Waiting> waiting = std::move(m_waiting);
        m_waiting.clear();
        const std::vector<WipeBatch::Result> results =
            m_batch.run([&](const QByteArray& path) { m_progress.startFile(path); });
        auto result = results.begin();
        bool stopped = false;
        for (const Waiting& w : waiting) {
            if (w.step) {
                // After a stop nothing more is done.
                if (!stopped && !attempt(w.step))
                    m_failedPaths.push_back(w.path);
                continue;
            }
            const WipeBatch::Result& r = *result++;
            if (r.outcome) {
                report(r.path, *r.outcome);
            } else if (r.failure->code() == ECANCELED) {
                stopped = true;
                if (r.touched)
                    interrupted.partOverwritten.push_back(r.path);
                else
                    ++interrupted.untouched;
            } else {
                m_failedPaths.push_back(r.path);
                failed(*r.failure);
            }
        }
        if (stopped)
            throw Error(ECANCELED, QStringLiteral("Stopped"));
    }

    // Runs a waiting step; false when it failed (which is told).
    bool attempt(const std::function<void()>& act)
    {
        try {
            act();
            return true;
        } catch (const Error& error) {
            failed(error);
            return false;
        }
    }

    bool failedBelow(const QByteArray& folderPath) const
    {
        return std::any_of(m_failedPaths.begin(), m_failedPaths.end(), [&](const QByteArray& path) {
            return path.startsWith(folderPath + '/');
        });
    }

    template <class Wipe> void destroy(const QByteArray& path, Wipe&& wipe)
    {
        ++attempted;
        m_progress.startFile(path);
        try {
            logLine(path);
            report(path, wipe());
        } catch (const Error& error) {
            if (error.code() == ECANCELED) {
                if (m_progress.fileWritten() > 0)
                    interrupted.partOverwritten.push_back(path);
                else
                    ++interrupted.untouched;
            }
            throw;
        }
    }

    void report(const QByteArray& path, const WipeOutcome& outcome)
    {
        if (outcome.verdict.destroyed()) {
            ++destroyed;
            record("destroyed " + quotedPathBytes(path) + ": " + local(outcome.verdict.text()),
                   true);
        } else {
            // Deleted as asked, but the old bytes are still on the device: a failure, told
            // even with --quiet.
            ++notReached;
            m_progress.clear();
            std::printf("deleted %s, NOT destroyed: %s\n", quotedPathBytes(path).constData(),
                        local(outcome.verdict.explained()).constData());
            std::fflush(stdout);
        }
        if (outcome.otherNames > 0) {
            // Never silent, not even with --quiet: the contents are overwritten, but the
            // other names still lead to the file.
            m_progress.clear();
            std::printf("%s\n", local(otherNamesNotice(path, outcome.otherNames)).constData());
            std::fflush(stdout);
        }
    }

    // Each waiting step holds a folder open: a bound on descriptors.
    static constexpr size_t kMostWaiting = 400;

    const WipeEnv& m_env;
    const OperationLog* m_log;
    WipeBatch m_batch;
    std::vector<Waiting> m_waiting;
    std::vector<QByteArray> m_failedPaths;
};

// Parses the words into a request; an exit status when there is nothing more to do.
std::optional<int> parse(const std::vector<QByteArray>& words, Request& request)
{
    const ParsedArguments parsed = parseArguments(words, kOptions);
    if (!parsed.problem.isEmpty())
        return usageError(kCommand, parsed.problem);
    SettingsStore store;
    LoadSettings(request.settings, store);
    for (const auto& [id, value] : parsed.options) {
        switch (id) {
        case kLevel: {
            const auto level = parseWipeLevel(QString::fromLocal8Bit(value), true);
            if (!level || value.isEmpty())
                return usageError(kCommand, "unknown level " + quotedWord(value) +
                                                " (1, 2, 3, least, medium or high)");
            request.settings.SecurityLevel = wipeLevelText(*level);
            break;
        }
        case kScramble:
            request.settings.ScrambleNames = true;
            request.scrambleAsked = true;
            break;
        case kNoScramble:
            request.settings.ScrambleNames = false;
            request.scrambleAsked = false;
            break;
        case kLog:
        case kNoLog:
            request.settings.LogOperations = id == kLog;
            break;
        case kVerbose:
        case kQuiet:
            request.verbose = id == kVerbose;
            request.quiet = id == kQuiet;
            break;
        case kRecursive:
            request.recursive = true;
            break;
        case kForce:
            request.force = true;
            break;
        case kOneFileSystem:
            request.oneFileSystem = true;
            break;
        case kDryRun:
            request.dryRun = true;
            break;
        case kInteractive:
            request.interactive = true;
            break;
        case kNoVerify:
            request.readBack = false;
            break;
        case kCleanNames:
            request.cleanNames = true;
            break;
        case kHelp:
            std::fputs(wipeHelp().constData(), stdout);
            return 0;
        case kVersion:
            std::printf("ombrevault-cli %s\n", OV_VERSION_STRING);
            return 0;
        }
    }
    if (parsed.operands.empty())
        return usageError(kCommand, "no file given");
    // Only a stored text that stands for a level: anything else would destroy nothing
    // and must not be reported as done.
    const std::optional<WipeLevel> level = parseWipeLevel(request.settings.SecurityLevel);
    if (!level)
        return usageError(kCommand, "the stored security level \"" +
                                        local(request.settings.SecurityLevel) +
                                        "\" is none of 1, 2, 3; choose one with --level");
    request.level = *level;
    const QByteArray here = currentDirectory();
    for (const QByteArray& path : parsed.operands)
        request.paths.push_back(path.trimmed().isEmpty() ? path : wholePath(path, here));
    return std::nullopt;
}

void describe(const Request& request, const OperationLog* log)
{
    static const char* const passes[] = {"", "3 passes", "5 passes", "33 passes"};
    QByteArray text =
        QByteArray(levelName(request.level)) + " level (" + passes[int(request.level)] +
        " over each file), names " +
        (request.settings.ScrambleNames && request.level != WipeLevel::Medium ? "scrambled"
                                                                              : "kept") +
        ", operation log " + (log ? "in " + quotedPathBytes(log->path()) : QByteArray("off"));
    say(text);
}

// -i: one question for the whole command, on the terminal; the answer from stdin.
bool confirmed(const Request& request, const Counter& count)
{
    QByteArray question = "destroy " + QByteArray::number(count.files) +
                          (count.files == 1 ? " file (" : " files (") + sizeText(count.bytes) + ")";
    if (count.folders > 0 || count.others > 0)
        question += " and remove " + QByteArray::number(count.folders) + " folder(s) and " +
                    QByteArray::number(count.others) + " link(s), FIFO(s) or socket(s)";
    question +=
        QByteArray(" beyond recovery at the ") + levelName(request.level) + " level? [y/N] ";
    std::fprintf(stderr, "ombrevault-cli: %s", question.constData());
    std::fflush(stderr);
    char answer[256] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    const QByteArray word = QByteArray(answer).trimmed().toLower();
    return word == "y" || word == "yes";
}

// After a stop: what was left as it was, then the end by the signal that asked for it.
int endInterrupted(const Interrupted& left, std::optional<qint64> filesLeft)
{
    QByteArray text = "interrupted";
    const auto& part = left.partOverwritten;
    if (!part.empty()) {
        text += ": ";
        for (size_t i = 0; i < part.size(); ++i)
            text += (i > 0 ? ", " : "") + quotedPathBytes(part[i]);
        text += part.size() == 1 ? " was left part-overwritten; running the same command "
                                   "again finishes it"
                                 : " were left part-overwritten; running the same command "
                                   "again finishes them";
    }
    if (filesLeft)
        text += "; " + QByteArray::number(std::max<qint64>(*filesLeft, 0)) +
                " more file(s) not touched";
    say(text);
    std::fflush(stdout);
    if (const int signal = termination::received())
        termination::endBy(signal);
    return 1;
}

} // namespace

int wipeCommand(const std::vector<QByteArray>& words)
{
    Request request;
    if (const std::optional<int> status = parse(words, request))
        return *status;

    Progress progress(!request.quiet && !request.dryRun && terminal::isTerminal(STDERR_FILENO));
    StopChannel& stop = interruptChannel();
    RemoveDuplicates(request.paths, progress);
    std::optional<OperationLog> log;
    if (request.settings.LogOperations && !request.dryRun)
        log.emplace(OperationLog::resolvedPath());
    WipeEnv env{progress, request.settings, stop, currentDirectory()};
    env.giveOwnerWrite = request.force;
    env.readBack = request.readBack;
    env.onWritten = [&](std::size_t bytes) { progress.wrote(bytes); };
    const TreeWalk::Rules walkRules{request.recursive, request.oneFileSystem};

    if (!request.quiet && request.scrambleAsked && request.level == WipeLevel::Medium)
        say("note: --scramble: the medium level never renames; each file is deleted under "
            "its own name");
    if (request.verbose)
        describe(request, log ? &*log : nullptr);

    if (request.dryRun) {
        DryRun dry(request, progress, env);
        TreeWalk walk(progress, stop, walkRules, dry);
        for (const QByteArray& path : request.paths)
            walk.walk(path);
        return dry.failures == 0 ? 0 : 1;
    }

    // Counted first when the numbers are shown. A signal until the question is answered
    // ends the program at once: nothing has been touched.
    Counter count(request.level);
    const bool counted = request.interactive || progress.enabled();
    if (counted) {
        TreeWalk walk(progress, stop, walkRules, count);
        for (const QByteArray& path : request.paths)
            walk.walk(path);
        progress.plan(count.writes, count.bytes);
    }
    if (request.interactive && !confirmed(request, count)) {
        say("nothing was destroyed");
        return 1;
    }
    installInterruptHandler();

    Destroyer destroyer(request, progress, env, log ? &*log : nullptr);
    TreeWalk walk(progress, stop, walkRules, destroyer);
    // How many files a stop leaves untouched, when that is known.
    const auto filesLeft = [&]() -> std::optional<qint64> {
        const qint64 untouched = destroyer.interrupted.untouched;
        if (counted)
            return count.files - destroyer.attempted + untouched;
        if (!request.recursive)
            return qint64(request.paths.size()) - destroyer.attempted + untouched;
        return std::nullopt;
    };
    try {
        for (const QByteArray& path : request.paths)
            walk.walk(path);
        destroyer.finish();
    } catch (const Error& error) {
        if (error.code() != ECANCELED)
            throw;
        progress.clear();
        destroyer.dropWaiting();
        return endInterrupted(destroyer.interrupted, filesLeft());
    }
    progress.clear();
    if (request.verbose)
        say(QByteArray::number(destroyer.destroyed) + " file(s) destroyed, " +
            QByteArray::number(destroyer.notReached) + " deleted but not destroyed, " +
            QByteArray::number(destroyer.removedFolders) + " folder(s) and " +
            QByteArray::number(destroyer.removedOthers) + " link(s), FIFO(s) or socket(s) " +
            "removed, " + QByteArray::number(destroyer.failures) + " failure(s)");
    // A signal during the last file's last steps: everything was done, and the script
    // that ran this still learns that it was asked to stop.
    if (stop.requested())
        return endInterrupted({}, std::nullopt);
    const int namesStatus = request.cleanNames ? cleanNamesAfterWipe(request.paths, stop) : 0;
    if (stop.requested())
        return endInterrupted({}, std::nullopt);
    return destroyer.failures == 0 && destroyer.notReached == 0 && namesStatus == 0 ? 0 : 1;
}

} // namespace ov::cli
