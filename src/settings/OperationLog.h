#pragma once

#include <QByteArray>
#include <QDate>
#include <QTime>

namespace ov {

// The operation log: one line per destroyed file and per cleaned volume, appended to a
// plain text file that is opened and closed around each line.
class OperationLog
{
public:
    explicit OperationLog(QByteArray path);

    // log.txt in the program's folder when it runs from a folder of its own it may write;
    // otherwise /var/log/ombrevault/log.txt for root on an installation, and
    // ombrevault/log.txt under $XDG_STATE_HOME for everyone else (under $XDG_DATA_HOME
    // when an earlier version's log is there and no newer one).
    static QByteArray resolvedPath();

    const QByteArray& path() const { return m_path; }

    // "[" date " - " time "] : " message, CR LF. Throws Error when it cannot be written.
    void AppendLog(const QByteArray& message) const;

    // One line as AppendLog writes it; control characters in the message become "?".
    static QByteArray formatLine(const QByteArray& message, const QDate& date, const QTime& time);
    static QString dateText(const QDate& date);
    static QString timeText(const QTime& time);

private:
    QByteArray m_path;
};

} // namespace ov
