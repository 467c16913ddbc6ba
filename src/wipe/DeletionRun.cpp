#include "wipe/DeletionRun.h"

#include "settings/WipeLevel.h"
#include "wipe/PreCheck.h"
#include "wipe/RemoveDuplicates.h"
#include "wipe/WipeBatch.h"
#include "wipe/WipeMethods.h"

#include <QScopedValueRollback>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <sys/stat.h>

namespace ov {

namespace {

// The pointer and the timer are the run's for as long as it runs, however it ends.
class RunningScope
{
public:
    explicit RunningScope(DeletionView& view) : m_view(view) { m_view.setRunning(true); }
    ~RunningScope() { m_view.setRunning(false); }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    DeletionView& m_view;
};

QString kindOf(const fs::EntryInfo& info)
{
    if (S_ISLNK(info.mode))
        return QStringLiteral("symbolic link");
    if (S_ISFIFO(info.mode))
        return QStringLiteral("FIFO");
    return QStringLiteral("socket");
}

Error stopped()
{
    return Error(ECANCELED, QStringLiteral("Stopped"));
}

} // namespace

QString namesMayRemainNotice()
{
    return QStringLiteral("The names of the destroyed files may remain in the file system's "
                          "journal; the Disk Cleaner's free-space run removes them.");
}

QString otherNamesNotice(const QByteArray& path, unsigned long long otherNames)
{
    return displayPath(path) + QStringLiteral(": ") + QString::number(otherNames) +
           (otherNames == 1 ? QStringLiteral(" other name still points")
                            : QStringLiteral(" other names still point")) +
           QStringLiteral(" at the overwritten contents");
}

// Takes what the entries name, file by file, in order: each file is logged, wiped and
// reported; files at the least level wait for a batch, and whatever the walk meets after
// them (links, emptied folders) waits with them, so that everything happens in order.
class DeletionRun::Sink : public EntrySink
{
public:
    Sink(DeletionRun& run, size_t entries)
        : m_run(run), m_view(run.m_view),
          m_tally(run.m_tally), m_env{run.m_runner, run.m_settings, run.m_stop, run.m_startFolder},
          m_batch(m_env), m_dealt(entries, false)
    {
        const DeletionPolicy& policy = run.m_policy;
        m_env.layers = &m_layers;
        m_env.readBack = policy.readBack;
        m_env.giveOwnerWrite = policy.readOnly == DeletionPolicy::ReadOnly::MakeWritable;
        m_env.refuseReadOnly = policy.readOnly == DeletionPolicy::ReadOnly::Refuse;
        m_env.onWritten = [this](std::size_t bytes) {
            m_fileWritten += bytes;
            m_view.wrote(bytes);
        };
    }

    // The entry the next calls are about, and the level it is wiped at.
    void startEntry(size_t index, WipeLevel level, const QString& levelText)
    {
        if (!waitingAtLevel(level))
            runBatch();
        if (level == WipeLevel::Least && m_run.m_policy.batchLeast)
            deleteWaiting();
        m_index = index;
        m_level = level;
        m_levelText = levelText;
    }

    void namedFile(const QByteArray& path) override
    {
        if (m_run.m_policy.blankEntriesFail && path.trimmed().isEmpty())
            throw Error(ENOENT, QStringLiteral("No file name given"), path);
        if (m_run.m_policy.dryRun) {
            const WipeTarget target = WipeTarget::prepare(path, rules(), m_env);
            m_view.wouldGo(path, {});
            return;
        }
        if (batched())
            return toBatch(path, [&] { m_batch.add(path); });
        // A blank entry at the medium level touches nothing: nothing to delete later.
        if (path.trimmed().isEmpty())
            return destroy(path, [&](bool) { return wipeAtLevel(path, m_level, m_env); });
        destroy(path, [&](bool logged) {
            return deferDelete(WipeTarget::prepare(path, deferredRules(), m_env), path, logged);
        });
    }

    void file(const fs::Folder& folder, const QByteArray& name, const fs::EntryInfo&) override
    {
        const QByteArray path = folder.pathOf(name);
        if (m_run.m_policy.dryRun) {
            const WipeTarget target =
                WipeTarget::prepareIn(folder.duplicate(), name, rules(), m_env);
            m_view.wouldGo(path, {});
            return;
        }
        if (batched())
            return toBatch(path, [&] { m_batch.add(folder, name); });
        destroy(path, [&](bool logged) {
            return deferDelete(
                WipeTarget::prepareIn(folder.duplicate(), name, deferredRules(), m_env), path,
                logged);
        });
    }

    void special(const fs::Folder& folder, const QByteArray& name,
                 const fs::EntryInfo& info) override
    {
        const QString kind = kindOf(info);
        if (m_run.m_policy.dryRun)
            return m_view.wouldGo(folder.pathOf(name), kind);
        step(folder, folder.pathOf(name), [this, name, info, kind](const fs::Folder& held) {
            // Only the name goes: whatever a link points at, and whatever is behind a
            // FIFO or a socket, is left alone. A name that meanwhile leads elsewhere too.
            const std::optional<fs::EntryInfo> now = held.lookAt(name);
            if (!now || now->id != info.id || now->mode != info.mode)
                throw Error(EAGAIN, QStringLiteral("Was replaced while the folder was walked"),
                            held.pathOf(name));
            held.remove(name);
            held.sync();
            ++m_tally.removedOthers;
            m_view.removed(held.pathOf(name), kind);
        });
    }

    void emptied(const fs::Folder& parent, const QByteArray& name) override
    {
        const QString kind = QStringLiteral("folder");
        if (m_run.m_policy.dryRun)
            return m_view.wouldGo(parent.pathOf(name), kind);
        step(parent, parent.pathOf(name), [this, name, kind](const fs::Folder& held) {
            // A file inside that failed keeps the folder; that failure has been told.
            if (failedBelow(held.pathOf(name)))
                throw Error(ENOTEMPTY, QString(), held.pathOf(name));
            held.removeFolder(name);
            held.sync();
            ++m_tally.removedFolders;
            m_view.removed(held.pathOf(name), kind);
        });
    }

    void failed(const Error& error) override
    {
        // A folder kept by a failure inside it, which was told already.
        if (error.message().isEmpty())
            return;
        ++m_tally.failures;
        if (!m_failure)
            m_failure = error;
        m_view.entryFailed(error);
    }

    // What still waits for the batch is destroyed now, and what waits for its delete
    // deleted.
    void finish()
    {
        runBatch();
        deleteWaiting();
    }

    // The files overwritten whose delete waits: deleted, each folder flushed once, and
    // only then reported destroyed (a power cut before the flush may bring a name back).
    void deleteWaiting()
    {
        if (m_toDelete.empty())
            return;
        std::vector<ToDelete> files = std::move(m_toDelete);
        m_toDelete.clear();
        m_bytesToDelete = 0;
        m_run.m_runner.runBlocking([&] {
            DeleteBoxes boxes;
            for (ToDelete& file : files) {
                try {
                    file.target.remove(&boxes);
                } catch (const Error& error) {
                    file.failure = error;
                    // A file that stays keeps the mode it had.
                    file.target.restoreMode();
                }
            }
            boxes.clear();
            std::vector<std::pair<fs::Identity, std::optional<Error>>> flushed;
            for (ToDelete& file : files) {
                if (file.failure)
                    continue;
                const fs::Folder& folder = file.target.folder();
                auto done = std::find_if(flushed.begin(), flushed.end(), [&](const auto& f) {
                    return f.first == folder.identity();
                });
                if (done == flushed.end()) {
                    std::optional<Error> failure;
                    try {
                        folder.sync();
                    } catch (const Error& error) {
                        failure = error;
                    }
                    done = flushed.insert(flushed.end(), {folder.identity(), failure});
                }
                if (done->second)
                    file.failure = Error(done->second->code(),
                                         QStringLiteral("Deleted, but its folder could not be "
                                                        "flushed to the disk (") +
                                             done->second->message() +
                                             QStringLiteral("): after a power cut its name may "
                                                            "come back"),
                                         file.path);
            }
        });
        for (ToDelete& file : files) {
            if (!file.failure) {
                report(file.path, file.index, file.logged, file.outcome);
                continue;
            }
            logSurvival(file.path, file.logged, file.failure->message());
            m_failedPaths.push_back(file.path);
            failed(*file.failure);
        }
    }

    // After a stop: the files waiting for the batch were not touched, and their steps
    // not taken.
    void dropWaiting()
    {
        // Overwritten whole already: these are dealt with as the run would have.
        deleteWaiting();
        for (const Waiting& w : m_waiting) {
            if (w.step)
                continue;
            ++m_tally.untouched;
            logSurvival(w.path, w.logged, QStringLiteral("Stopped before it was touched"));
        }
        m_waiting.clear();
        m_batch.clear();
    }

    const std::optional<Error>& firstFailure() const { return m_failure; }
    const WipeEnv& env() const { return m_env; }
    bool dealt(size_t index) const { return m_dealt[index]; }
    long long dealtCount() const { return m_tally.destroyed + m_tally.notReached; }
    const QStringList& notReached() const { return m_notReached; }
    const QStringList& otherNames() const { return m_otherNames; }
    bool namesMayRemain() const { return m_namesMayRemain; }

private:
    // A file of the batch (no step), or a step to take once the files before it are done.
    struct Waiting
    {
        QByteArray path;
        size_t index = 0;
        bool logged = false;
        std::function<void()> step;
    };

    // A file overwritten whole, whose delete waits for the others' (deleteWaiting).
    struct ToDelete
    {
        WipeTarget target;
        QByteArray path;
        size_t index = 0;
        bool logged = false;
        WipeOutcome outcome;
        std::optional<Error> failure;
    };

    WipeTarget::Rules deferredRules() const
    {
        WipeTarget::Rules rules = this->rules();
        rules.deferDelete = true;
        return rules;
    }

    // Overwrites the file at the level; its delete waits for those of the files after it,
    // so that the deletes of a run reach the folder's block on the disk in one flush.
    std::optional<WipeOutcome> deferDelete(WipeTarget target, const QByteArray& path, bool logged)
    {
        const WipeOutcome outcome = wipePrepared(target, m_level);
        m_bytesToDelete += target.initialLength();
        m_toDelete.push_back({std::move(target), path, m_index, logged, outcome, {}});
        if (m_toDelete.size() >= kMostToDelete || m_bytesToDelete >= kMostBytesToDelete)
            deleteWaiting();
        return std::nullopt;
    }

    bool batched() const { return m_run.m_policy.batchLeast && m_level == WipeLevel::Least; }
    bool waitingAtLevel(WipeLevel level) const
    {
        return m_waiting.empty() || (level == WipeLevel::Least && m_run.m_policy.batchLeast);
    }

    WipeTarget::Rules rules() const { return wipeRules(m_level, true, m_env); }

    // The log's line, written before the file is touched; true when it was written.
    bool logLine(const QByteArray& path) const
    {
        if (!m_run.m_log || !m_run.m_settings.LogOperations)
            return false;
        m_run.m_runner.runBlocking(
            [&] { m_run.m_log->AppendLog(deletionLogMessage(path, m_levelText)); });
        return true;
    }

    // When a logged file survives, a second line says so, so that the log never records
    // as destroyed what was not.
    void logSurvival(const QByteArray& path, bool logged, const QString& why) const
    {
        if (!logged)
            return;
        try {
            m_run.m_runner.runBlocking(
                [&] { m_run.m_log->AppendLog(path + " NOT destroyed: " + why.toUtf8()); });
        } catch (const Error&) {
            // The failure being reported matters more than the log's.
        }
    }

    template <class Add> void toBatch(const QByteArray& path, Add&& add)
    {
        ++m_tally.attempted;
        // The log line and the file's checks are one hand-off: a batch of small files
        // would otherwise cost the window two round trips to the worker each.
        bool logged = false;
        m_run.m_runner.runBlocking([&] {
            logged = logLine(path);
            try {
                add();
            } catch (const Error& error) {
                logSurvival(path, logged, error.message());
                throw;
            }
        });
        m_waiting.push_back({path, m_index, logged, {}});
        if (m_batch.full() || m_waiting.size() >= kMostWaiting)
            runBatch();
    }

    // A step in `folder` now, or, when files wait for the batch, after them (holding the
    // folder meanwhile).
    template <class Step> void step(const fs::Folder& folder, const QByteArray& path, Step&& act)
    {
        // A folder emptied needs its files gone first; in order, everything else too.
        deleteWaiting();
        if (m_waiting.empty())
            return act(folder);
        auto held = std::make_shared<fs::Folder>(folder.duplicate());
        m_waiting.push_back({path, m_index, false, [held, act] { act(*held); }});
        if (m_waiting.size() >= kMostWaiting)
            runBatch();
    }

    void runBatch()
    {
        if (m_waiting.empty())
            return;
        std::vector<Waiting> waiting = std::move(m_waiting);
        m_waiting.clear();
        const std::vector<WipeBatch::Result> results =
            m_batch.run([&](const QByteArray& path) { m_view.fileInHand(path); });
        auto result = results.begin();
        bool stop = false;
        for (const Waiting& w : waiting) {
            if (w.step) {
                // After a stop nothing more is done.
                if (!stop && !attempt(w.step))
                    m_failedPaths.push_back(w.path);
                continue;
            }
            const WipeBatch::Result& r = *result++;
            if (r.outcome) {
                report(r.path, w.index, w.logged, *r.outcome);
                continue;
            }
            logSurvival(r.path, w.logged, r.failure->message());
            if (r.failure->code() == ECANCELED) {
                stop = true;
                if (r.touched)
                    m_tally.partOverwritten.push_back(r.path);
                else
                    ++m_tally.untouched;
            } else {
                m_failedPaths.push_back(r.path);
                failed(*r.failure);
            }
        }
        if (stop)
            throw stopped();
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
        ++m_tally.attempted;
        m_view.fileInHand(path);
        m_fileWritten = 0;
        bool logged = false;
        try {
            logged = logLine(path);
            if (const std::optional<WipeOutcome> outcome = wipe(logged))
                report(path, m_index, logged, *outcome);
        } catch (const Error& error) {
            logSurvival(path, logged, error.message());
            if (error.code() == ECANCELED) {
                if (m_fileWritten > 0)
                    m_tally.partOverwritten.push_back(path);
                else
                    ++m_tally.untouched;
            } else {
                m_failedPaths.push_back(path);
            }
            throw;
        }
    }

    void report(const QByteArray& path, size_t index, bool logged, const WipeOutcome& outcome)
    {
        if (outcome.verdict.destroyed()) {
            ++m_tally.destroyed;
        } else {
            ++m_tally.notReached;
            m_notReached << displayPath(path) + QStringLiteral(": ") + outcome.verdict.explained();
            logSurvival(path, logged, outcome.verdict.explained());
        }
        if (outcome.otherNames > 0)
            m_otherNames << otherNamesNotice(path, outcome.otherNames);
        m_namesMayRemain |= outcome.namesMayRemain;
        m_dealt[index] = true;
        m_view.fileDealtWith(path, outcome);
    }

    // Each waiting step holds a folder open: a bound on descriptors.
    static constexpr size_t kMostWaiting = 400;
    // Each file whose delete waits holds two descriptors (its folder and its entry; the
    // contents are let go once overwritten); and the files of a long run are reported now
    // and then.
    static constexpr size_t kMostToDelete = 100;
    static constexpr off_t kMostBytesToDelete = off_t(256) << 20;

    DeletionRun& m_run;
    DeletionView& m_view;
    Tally& m_tally;
    fs::LayerCache m_layers;
    WipeEnv m_env;
    WipeBatch m_batch;
    std::vector<Waiting> m_waiting;
    std::vector<ToDelete> m_toDelete;
    off_t m_bytesToDelete = 0;
    std::vector<QByteArray> m_failedPaths;
    std::vector<bool> m_dealt;
    std::optional<Error> m_failure;
    QStringList m_notReached, m_otherNames;
    bool m_namesMayRemain = false;
    size_t m_index = 0;
    WipeLevel m_level = WipeLevel::Medium;
    QString m_levelText;
    // What the file in hand has had written so far (counted on the worker).
    std::atomic<std::size_t> m_fileWritten = 0;
};

DeletionRun::DeletionRun(DeletionView& view, const Settings& settings, const OperationLog* log,
                         BlockingRunner& runner, QByteArray startFolder, DeletionPolicy policy,
                         StopChannel* stop)
    : m_view(view), m_settings(settings), m_log(log), m_runner(runner),
      m_startFolder(std::move(startFolder)), m_policy(policy), m_stop(stop ? *stop : m_ownStop)
{}

DeletionRun::~DeletionRun() = default;

DeletionRun::Outcome DeletionRun::run(std::vector<QByteArray> entries, EntryWalker* walker)
{
    // Runs do not nest: a second press inside a yield of the first is ignored.
    if (m_running || entries.empty())
        return Outcome::NothingToDo;
    QScopedValueRollback running(m_running, true);
    // A channel shared with signal handlers keeps a request made before the run began.
    if (&m_stop == &m_ownStop)
        m_stop.reset();
    m_tally = Tally{};
    Sink sink(*this, entries.size());
    Outcome outcome;
    {
        RunningScope scope(m_view);
        outcome = work(entries, walker, sink);
    }
    // Told once the window is back to normal: the failure first, then what else to know.
    if (outcome == Outcome::Failed && m_policy.stopAtFirstFailure && sink.firstFailure())
        m_view.reportError(*sink.firstFailure());
    QStringList lines;
    if (!sink.notReached().isEmpty())
        lines << QStringLiteral("Deleted, but the old data is still on the device:")
              << sink.notReached();
    lines << sink.otherNames();
    if (sink.namesMayRemain())
        lines << namesMayRemainNotice();
    if (!lines.isEmpty())
        m_view.reportNotices(lines);
    return outcome;
}

DeletionRun::Outcome DeletionRun::work(std::vector<QByteArray>& entries, EntryWalker* walker,
                                       Sink& sink)
{
    m_view.setStatus(QStringLiteral("Preparing and checking for duplicate entries."));
    m_runner.yield();
    m_view.setFilesDeleted(QStringLiteral("0"));

    const int removed = RemoveDuplicates(entries, m_runner);
    m_view.setPending(entries);
    m_view.setStatus(QString::number(removed) +
                     QStringLiteral(" Duplicate entries found and removed"));

    const size_t total = entries.size();
    m_view.setTotalFiles(QString::number(total));
    m_view.setFilesLeft(QString::number(total));
    // Every entry is looked at before the first byte: a list that cannot be destroyed
    // whole is not begun, and every entry in the way is told at once.
    if (m_policy.checkAllFirst && !m_policy.dryRun) {
        if (const std::optional<WipeLevel> level = parseWipeLevel(m_settings.SecurityLevel)) {
            if (const std::optional<Error> failure =
                    precheckFailure(precheckEntries(entries, *level, sink.env()))) {
                sink.failed(*failure);
                m_view.setStatus(QStringLiteral("Failed: ") +
                                 failure->message().section('\n', 0, 0));
                return Outcome::Failed;
            }
        }
    }
    m_runner.yield();
    m_view.setStatus(QStringLiteral(" Working.."));

    // The entries dealt with leave the list; the rest stay for another run.
    auto keepUndealt = [&] {
        std::vector<QByteArray> left;
        for (size_t i = 0; i < total; ++i) {
            if (!sink.dealt(i))
                left.push_back(entries[i]);
        }
        m_view.setPending(left);
    };
    long long counted = 0;
    auto count = [&] {
        if (sink.dealtCount() == counted)
            return;
        counted = sink.dealtCount();
        m_runner.yield();
        m_view.setFilesDeleted(QString::number(counted));
        m_view.setFilesLeft(QString::number(std::max<long long>(0, (long long)total - counted)));
    };
    auto endStopped = [&] {
        sink.dropWaiting();
        count();
        keepUndealt();
        m_view.setStatus(QStringLiteral("Stopped: ") + QString::number(counted) +
                         QStringLiteral(" of ") + QString::number(total) +
                         QStringLiteral(" files destroyed"));
        return Outcome::Stopped;
    };
    // A failure where the run stops at the first: what waits before it is finished
    // first, since it comes earlier in the list.
    auto stopsHere = [&] { return m_policy.stopAtFirstFailure && sink.firstFailure(); };

    try {
        for (size_t i = 0; i < total && !stopsHere(); ++i) {
            m_runner.yield();
            if (m_stop.requested())
                return endStopped();
            const QByteArray& path = entries[i];
            // Read afresh for every entry: a level saved in the options meanwhile applies.
            const QString levelText = m_settings.SecurityLevel;
            try {
                // A level no method stands for destroys nothing, so nothing may be logged
                // or counted as destroyed either.
                const std::optional<WipeLevel> level = parseWipeLevel(levelText);
                if (!level)
                    throw Error(EINVAL,
                                QStringLiteral("The stored security level \"%1\" is none of 1, "
                                               "2 and 3; choose one in the options")
                                    .arg(levelText));
                sink.startEntry(i, *level, levelText);
                if (walker)
                    walker->walk(path, sink);
                else
                    sink.namedFile(path);
            } catch (const Error& error) {
                if (error.code() == ECANCELED)
                    throw;
                sink.failed(error);
            }
            count();
        }
        sink.finish();
        count();
    } catch (const Error& error) {
        if (error.code() != ECANCELED)
            throw;
        return endStopped();
    }

    if (const std::optional<Error>& failure = sink.firstFailure()) {
        keepUndealt();
        if (m_policy.stopAtFirstFailure)
            m_view.setStatus(QStringLiteral("Failed: ") + failure->text());
        return Outcome::Failed;
    }
    m_view.setPending({});
    m_view.setStatus(QStringLiteral("Done"));
    return Outcome::Done;
}

} // namespace ov
