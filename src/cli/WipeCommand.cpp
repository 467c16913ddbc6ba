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
#include "wipe/WipeMethods.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
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
    kJson,
    kCleanNames,
};

const std::vector<OptionRule> kOptions = {
    {kLevel, "level", 'l', true},
    {kScramble, "scramble", 's', false},
    {kNoScramble, "no-scramble", 0, false},
    {kLog, "log", 0, false},
    {kNoLog, "no-log", 0, false},
    {kNoVerify, "no-verify", 0, false},
    {kJson, "json", 0, false},
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
    bool json = false; // a JSON object per file on stdout instead of the lines
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
class Progress : public InPlaceRunner
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
        writes += plannedWrites(m_level, info.size);
    }
    WipeLevel m_level;
};

// The shared run's view on a terminal: a line of stdout for each file (the record of what
// was done), failures on stderr, and the progress line.
class CliView : public DeletionView
{
public:
    CliView(const Request& request, Progress& progress) : m_request(request), m_progress(progress)
    {}

    void fileInHand(const QByteArray& path) override { m_progress.startFile(path); }
    void wrote(std::size_t bytes) override { m_progress.wrote(bytes); }
    void fileDealtWith(const QByteArray& path, const WipeOutcome& outcome) override
    {
        if (m_request.json)
            return print(outcome.verdict.json(path));
        if (outcome.verdict.destroyed()) {
            record("destroyed " + quotedPathBytes(path) + ": " + local(outcome.verdict.text()),
                   true);
        } else {
            // Deleted as asked, but the old bytes are still on the device: a failure, told
            // even with --quiet.
            print("deleted " + quotedPathBytes(path) +
                  ", NOT destroyed: " + local(outcome.verdict.explained()));
        }
        // Never silent, not even with --quiet: the contents are overwritten, but the other
        // names still lead to the file.
        if (outcome.otherNames > 0)
            print(local(otherNamesNotice(path, outcome.otherNames)));
    }
    void entryFailed(const Error& error) override
    {
        m_progress.clear();
        QByteArray text = local(error.text());
        if (error.code() == EISDIR && !m_request.recursive)
            text += " (-r destroys a folder and everything in it)";
        if (error.code() == EACCES && error.message() == readOnlyRefusal())
            text += " (-f makes it writable and destroys it)";
        say(text);
        if (m_request.json && !error.path().isEmpty())
            print(failureJson(error.path(), error.message()));
    }
    void removed(const QByteArray& path, const QString& kind) override
    {
        if (!m_request.json)
            record("removed " + describe(path, kind));
    }
    void wouldGo(const QByteArray& path, const QString& kind) override
    {
        record((kind.isEmpty() ? "would destroy " : "would remove ") + describe(path, kind), true);
    }

private:
    static QByteArray describe(const QByteArray& path, const QString& kind)
    {
        if (kind.isEmpty())
            return quotedPathBytes(path);
        if (kind == QLatin1String("folder"))
            return "folder " + quotedPathBytes(path);
        return quotedPathBytes(path) + " (" + local(kind) + ")";
    }
    // A line of stdout: the record of what was done.
    void record(const QByteArray& text, bool always = false)
    {
        if (m_request.quiet || (!always && !m_request.verbose))
            return;
        print(text);
    }
    void print(const QByteArray& text)
    {
        m_progress.clear();
        std::printf("%s\n", text.constData());
        std::fflush(stdout);
    }

    const Request& m_request;
    Progress& m_progress;
};

// Each entry through the tree walk: a folder is walked with -r, anything else is a file.
class Walker : public EntryWalker
{
public:
    Walker(BlockingRunner& runner, const StopChannel& stop, TreeWalk::Rules rules)
        : m_runner(runner), m_stop(stop), m_rules(rules)
    {}
    void walk(const QByteArray& path, EntrySink& sink) override
    {
        TreeWalk(m_runner, m_stop, m_rules, sink).walk(path);
    }

private:
    BlockingRunner& m_runner;
    const StopChannel& m_stop;
    TreeWalk::Rules m_rules;
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
        case kJson:
            request.json = true;
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
    QByteArray text =
        QByteArray(wipeLevelName(request.level)) + " level (" +
        QByteArray::number(passCount(request.level)) + " passes over each file), names " +
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
        QByteArray(" beyond recovery at the ") + wipeLevelName(request.level) + " level? [y/N] ";
    std::fprintf(stderr, "ombrevault-cli: %s", question.constData());
    std::fflush(stderr);
    char answer[256] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    const QByteArray word = QByteArray(answer).trimmed().toLower();
    return word == "y" || word == "yes";
}

// After a stop: what was left as it was, then the end by the signal that asked for it.
int endInterrupted(const std::vector<QByteArray>& part, std::optional<qint64> filesLeft)
{
    QByteArray text = "interrupted";
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
    // Before counting, so that the count asked about (-i) is the count destroyed.
    RemoveDuplicates(request.paths, progress);
    std::optional<OperationLog> log;
    if (request.settings.LogOperations && !request.dryRun)
        log.emplace(OperationLog::resolvedPath());
    const TreeWalk::Rules walkRules{request.recursive, request.oneFileSystem};

    if (!request.quiet && request.scrambleAsked && request.level == WipeLevel::Medium)
        say("note: --scramble: the medium level never renames; each file is deleted under "
            "its own name");
    if (request.verbose)
        describe(request, log ? &*log : nullptr);

    // Counted first when the numbers are shown. A signal until the question is answered
    // ends the program at once: nothing has been touched.
    Counter count(request.level);
    const bool counted = !request.dryRun && (request.interactive || progress.enabled());
    if (counted) {
        TreeWalk walk(progress, stop, walkRules, count);
        for (const QByteArray& path : request.paths)
            walk.walk(path);
        progress.plan(count.writes, count.bytes);
    }
    if (request.interactive && !request.dryRun && !confirmed(request, count)) {
        say("nothing was destroyed");
        return 1;
    }
    if (!request.dryRun)
        installInterruptHandler();

    DeletionPolicy policy;
    policy.stopAtFirstFailure = false;
    policy.checkAllFirst = false;
    policy.dryRun = request.dryRun;
    policy.blankEntriesFail = true;
    policy.readBack = request.readBack;
    policy.readOnly =
        request.force ? DeletionPolicy::ReadOnly::MakeWritable : DeletionPolicy::ReadOnly::Refuse;
    CliView view(request, progress);
    DeletionRun run(view, request.settings, log ? &*log : nullptr, progress, currentDirectory(),
                    policy, &stop);
    Walker walker(progress, stop, walkRules);
    const DeletionRun::Outcome outcome = run.run(request.paths, &walker);
    const DeletionRun::Tally& tally = run.tally();
    progress.clear();
    if (outcome == DeletionRun::Outcome::Stopped) {
        // How many files a stop leaves untouched, when that is known.
        std::optional<qint64> filesLeft;
        if (counted)
            filesLeft = count.files - tally.attempted + tally.untouched;
        else if (!request.recursive)
            filesLeft = qint64(request.paths.size()) - tally.attempted + tally.untouched;
        return endInterrupted(tally.partOverwritten, filesLeft);
    }
    if (request.verbose && !request.dryRun)
        say(QByteArray::number(tally.destroyed) + " file(s) destroyed, " +
            QByteArray::number(tally.notReached) + " deleted but not destroyed, " +
            QByteArray::number(tally.removedFolders) + " folder(s) and " +
            QByteArray::number(tally.removedOthers) + " link(s), FIFO(s) or socket(s) " +
            "removed, " + QByteArray::number(tally.failures) + " failure(s)");
    // A signal during the last file's last steps: everything was done, and the script
    // that ran this still learns that it was asked to stop.
    if (stop.requested())
        return endInterrupted({}, std::nullopt);
    // What the file system keeps of the deleted names, once per volume touched.
    const int namesStatus =
        request.cleanNames && !request.dryRun ? cleanNamesAfterWipe(request.paths, stop) : 0;
    if (stop.requested())
        return endInterrupted({}, std::nullopt);
    return tally.failures == 0 && tally.notReached == 0 && namesStatus == 0 ? 0 : 1;
}

} // namespace ov::cli
