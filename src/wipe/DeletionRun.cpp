#include "wipe/DeletionRun.h"

#include "wipe/RemoveDuplicates.h"
#include "wipe/WipeMethods.h"

#include <QScopedValueRollback>

namespace ov {

DeletionRun::DeletionRun(DeletionView& view, const Settings& settings, const OperationLog& log,
                         EngineHost& host)
    : m_view(view), m_settings(settings), m_log(log), m_host(host)
{}

DeletionRun::Outcome DeletionRun::cmdDelete_Click()
{
    // Runs do not nest: a second press inside a yield of the first is ignored.
    if (m_running || m_view.count() == 0)
        return Outcome::NothingToDo;
    QScopedValueRollback running(m_running, true);
    m_stopRequested = false;
    return run();
}

DeletionRun::Outcome DeletionRun::run()
{
    m_view.setTimerRunning(true);
    m_view.setBusy(true);
    m_view.setStatus(QStringLiteral("Preparing and checking for duplicate entries."));
    m_host.yield();

    int done = 0;
    m_view.setFilesDeleted(QStringLiteral("0"));

    std::vector<QByteArray> entries;
    entries.reserve(size_t(m_view.count()));
    for (int i = 0; i < m_view.count(); ++i)
        entries.push_back(m_view.item(i));
    const int removed = RemoveDuplicates(entries, m_host);
    if (removed > 0)
        m_view.setItems(entries);
    m_view.setStatus(QString::number(removed) +
                     QStringLiteral(" Duplicate entries found and removed"));

    const int total = int(entries.size());
    int left = total;
    m_view.setTotalFiles(QString::number(total));
    m_view.setFilesLeft(QString::number(left));
    m_host.yield();

    m_view.setStatus(QStringLiteral(" Working.."));

    auto endEarly = [&](int next) {
        // The entries already destroyed leave the list; the rest stay for another run.
        m_view.setItems(std::vector<QByteArray>(entries.begin() + next, entries.end()));
        m_view.setBusy(false);
        m_view.setTimerRunning(false);
    };

    for (int i = 0; i < total; ++i) {
        m_host.yield();
        if (m_stopRequested) {
            endEarly(i);
            m_view.setStatus(QStringLiteral("Stopped: ") + QString::number(done) +
                             QStringLiteral(" of ") + QString::number(total) +
                             QStringLiteral(" files destroyed"));
            return Outcome::Stopped;
        }
        const QByteArray& path = entries[size_t(i)];
        const QString level = m_settings.SecurityLevel;
        try {
            if (m_settings.LogOperations)
                m_log.AppendLog(DeletionLogMessage(path, level));
            // Any other level leaves the file alone and counts it, as it always has.
            WipeAtLevel(path, level, m_settings, m_host);
        } catch (const Error& error) {
            endEarly(i);
            m_view.setStatus(QStringLiteral("Failed: ") + error.text());
            m_view.reportError(error);
            return Outcome::Failed;
        }
        m_host.yield();
        --left;
        ++done;
        m_host.yield();
        m_view.setFilesDeleted(QString::number(done));
        m_view.setFilesLeft(QString::number(left));
    }

    m_view.clear();
    m_view.setStatus(QStringLiteral("Done"));
    m_view.setBusy(false);
    m_view.setTimerRunning(false);
    return Outcome::Done;
}

} // namespace ov
