#include "platform/Error.h"

#include "platform/PathText.h"

#include <cerrno>
#include <cstring>

namespace ov {

Error::Error(int code, QString message, QByteArray path)
    : m_code(code), m_message(std::move(message)), m_path(std::move(path))
{
    m_what = text().toStdString();
}

Error Error::fromErrno(int code, QByteArray path)
{
    return Error(code, QString::fromLocal8Bit(std::strerror(code)), std::move(path));
}

QString Error::displayPath() const
{
    return ov::displayPath(m_path);
}

QString Error::text() const
{
    if (m_path.isEmpty())
        return m_message;
    return displayPath() + QStringLiteral(": ") + m_message;
}

void throwErrno(const QByteArray& path)
{
    throw Error::fromErrno(errno, path);
}

void throwError(int code, const QByteArray& path)
{
    throw Error::fromErrno(code, path);
}

QString displayPath(const QByteArray& path)
{
    return quotedPath(path);
}

QString plainPathText(const QByteArray& path)
{
    return QString::fromUtf8(path);
}

} // namespace ov
