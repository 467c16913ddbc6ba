#include "wipe/DeletionRun.h"

#include "settings/WipeLevel.h"
#include "wipe/PreCheck.h"
#include "wipe/RemoveDuplicates.h"
#include "wipe/WipeMethods.h"

#include <QScopedValueRollback>

#include <cerrno>

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

} // namespace

QString otherNamesNotice(const QByteArray& path, unsigned long long otherNames)
{
    return displayPath(path) + QStringLiteral(": ") + QString::number(otherNames) +
           (otherNames == 1 ? QStringLiteral(" other name still points")
                            : QStringLiteral(" other names still point")) +
           QStringLiteral(" at the overwritten contents");
}

DeletionRun::DeletionRun(DeletionView& view, const Settings& settings, const OperationLog& log,
                         EngineHost& host, QByteArray startFolder)
    : m_view(view), m_settings(settings), m_log(log), m_host(host),
      m_startFolder(std::move(startFolder))
{}

DeletionRun::Outcome DeletionRun::run(std::vector<QByteArray> entries)
{
    // Runs do not nest: a second press inside a yield of the first is ignored.
    if (m_running || entries.empty())
        return Outcome::NothingToDo;
    QScopedValueRollback running(m_running, true);
    m_stop.reset();
    Notices notices;
    std::optional<Error> failure;
    Outcome outcome;
    {
        RunningScope scope(m_view);
        outcome = work(entries, notices, failure);
    }
    // Told once the window is back to normal: the failure first, then what else to know.
    if (failure)
        m_view.reportError(*failure);
    QStringList lines;
    if (!notices.notReached.isEmpty())
        lines << QStringLiteral("Deleted, but the old data is still on the device:")
              << notices.notReached;
    lines << notices.otherNames;
    if (!lines.isEmpty())
        m_view.reportNotices(lines);
    return outcome;
}

DeletionRun::Outcome DeletionRun::work(std::vector<QByteArray>& entries, Notices& notices,
                                       std::optional<Error>& failure)
{
    m_view.setStatus(QStringLiteral("Preparing and checking for duplicate entries."));
    m_host.yield();

    int done = 0;
    m_view.setFilesDeleted(QStringLiteral("0"));

    const int removed = RemoveDuplicates(entries, m_host);
    m_view.setPending(entries);
    m_view.setStatus(QString::number(removed) +
                     QStringLiteral(" Duplicate entries found and removed"));

    const int total = int(entries.size());
    int left = total;
    m_view.setTotalFiles(QString::number(total));
    m_view.setFilesLeft(QString::number(left));
    // Every entry is looked at before the first byte: a list that cannot be destroyed
    // whole is not begun, and every entry in the way is told at once.
    if (const std::optional<WipeLevel> level = parseWipeLevel(m_settings.SecurityLevel)) {
        const WipeEnv checkEnv{m_host, m_settings, m_stop, m_startFolder};
        failure = precheckFailure(precheckEntries(entries, *level, checkEnv));
        if (failure) {
            m_view.setStatus(QStringLiteral("Failed: ") + failure->message().section('\n', 0, 0));
            return Outcome::Failed;
        }
    }
    m_host.yield();

    m_view.setStatus(QStringLiteral(" Working.."));

    // The entries already destroyed leave the list; the rest stay for another run.
    auto keepFrom = [&](int next) {
        m_view.setPending(std::vector<QByteArray>(entries.begin() + next, entries.end()));
    };

    const WipeEnv env{m_host, m_settings, m_stop, m_startFolder};
    for (int i = 0; i < total; ++i) {
        m_host.yield();
        if (m_stop.requested()) {
            keepFrom(i);
            m_view.setStatus(QStringLiteral("Stopped: ") + QString::number(done) +
                             QStringLiteral(" of ") + QString::number(total) +
                             QStringLiteral(" files destroyed"));
            return Outcome::Stopped;
        }
        const QByteArray& path = entries[size_t(i)];
        // Read afresh for every entry: a level saved in the options meanwhile applies.
        const QString levelText = m_settings.SecurityLevel;
        // The log's line is written before the file is touched; when the file then
        // survives, a second line says so, so that the log never records as destroyed
        // what was not.
        bool logged = false;
        auto logSurvival = [&](const QString& why) {
            if (!logged)
                return;
            try {
                m_host.runBlocking(
                    [&] { m_log.AppendLog(path + " NOT destroyed: " + why.toUtf8()); });
            } catch (const Error&) {
                // The failure being reported matters more than the log's.
            }
        };
        try {
            // A level no method stands for destroys nothing, so nothing may be logged or
            // counted as destroyed either.
            const std::optional<WipeLevel> level = parseWipeLevel(levelText);
            if (!level)
                throw Error(EINVAL,
                            QStringLiteral("The stored security level \"%1\" is none of 1, 2 "
                                           "and 3; choose one in the options")
                                .arg(levelText));
            if (m_settings.LogOperations) {
                m_host.runBlocking([&] { m_log.AppendLog(DeletionLogMessage(path, levelText)); });
                logged = true;
            }
            const WipeOutcome outcome = WipeAtLevel(path, *level, env);
            if (!outcome.verdict.destroyed()) {
                notices.notReached
                    << displayPath(path) + QStringLiteral(": ") + outcome.verdict.explained();
                logSurvival(outcome.verdict.explained());
            }
            if (outcome.otherNames > 0)
                notices.otherNames << otherNamesNotice(path, outcome.otherNames);
        } catch (const Error& error) {
            logSurvival(error.message());
            keepFrom(i);
            m_view.setStatus(QStringLiteral("Failed: ") + error.text());
            failure = error;
            return Outcome::Failed;
        }
        m_host.yield();
        --left;
        ++done;
        m_host.yield();
        m_view.setFilesDeleted(QString::number(done));
        m_view.setFilesLeft(QString::number(left));
    }

    m_view.setPending({});
    m_view.setStatus(QStringLiteral("Done"));
    return Outcome::Done;
}

} // namespace ov
