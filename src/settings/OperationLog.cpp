#include "settings/OperationLog.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>

namespace ov {

OperationLog::OperationLog(QByteArray path) : m_path(std::move(path)) {}

QByteArray OperationLog::resolvedPath()
{
    const bool installed = runsInstalled();
    const QByteArray folder = programFolder();
    if (!installed && folderWritable(folder))
        return joinPath(folder, "log.txt");
    // Variable data of an installed program goes where the system keeps such data.
    if (installed && isSuperUser())
        return "/var/log/ombrevault/log.txt";
    const QByteArray state =
        joinPath(xdgFolder("XDG_STATE_HOME", ".local/state"), "ombrevault/log.txt");
    // Earlier versions kept a user's log with the user's data: a log already there stays
    // in use, so that its history is not split in two.
    const QByteArray earlier =
        joinPath(xdgFolder("XDG_DATA_HOME", ".local/share"), "ombrevault/log.txt");
    if (!QFile::exists(QFile::decodeName(state)) && QFile::exists(QFile::decodeName(earlier)))
        return earlier;
    return state;
}

QString OperationLog::dateText(const QDate& date)
{
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString OperationLog::timeText(const QTime& time)
{
    // The locale's long time format carries the seconds; the time zone is left out.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    format.remove(zone);
    format = format.trimmed();
    if (format.isEmpty())
        format = QStringLiteral("HH:mm:ss");
    return QLocale::system().toString(time, format);
}

QByteArray OperationLog::formatLine(const QByteArray& message, const QDate& date, const QTime& time)
{
    QByteArray safe = message;
    // One operation is always one line: no control character of a file name may start
    // another (or forge one).
    for (char& c : safe) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            c = '?';
    }
    return "[" + dateText(date).toUtf8() + " - " + timeText(time).toUtf8() + "] : " + safe + "\r\n";
}

void OperationLog::AppendLog(const QByteArray& message) const
{
    // Date and time are read one after the other, date first.
    const QDate date = QDate::currentDate();
    const QTime time = QTime::currentTime();
    const QByteArray line = formatLine(message, date, time);

    const int slash = m_path.lastIndexOf('/');
    if (slash > 0)
        QDir().mkpath(QFile::decodeName(m_path.left(slash)));
    // The line is short: written in place. The file is private to its user (it lists
    // what was destroyed), and a link, FIFO or another user's file of that name is
    // refused rather than written through. One write of the whole line, so that appends
    // of whole lines do not interleave.
    InPlaceRunner inPlace;
    fs::File file = fs::File::openAppendOwned(m_path, inPlace);
    file.append(line.constData(), size_t(line.size()));
    file.close();
}

} // namespace ov
