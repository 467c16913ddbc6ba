#include "settings/OperationLog.h"

#include "platform/Error.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ov {

OperationLog::OperationLog(QByteArray path) : m_path(std::move(path)) {}

QByteArray OperationLog::resolvedPath()
{
    const QByteArray folder = programFolder();
    if (folderWritable(folder))
        return folder + "/log.txt";
    return joinPath(xdgFolder("XDG_DATA_HOME", ".local/share"), "ombrevault/log.txt");
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
    int fd;
    do {
        fd = ::open(m_path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                    0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throwErrno(m_path);
    // One write() of the whole line: appends of whole lines do not interleave.
    const char* data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int failure = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throwError(failure, m_path);
        }
        data += n;
        left -= n;
    }
    if (::close(fd) != 0 && errno != EINTR)
        throwErrno(m_path);
}

} // namespace ov
