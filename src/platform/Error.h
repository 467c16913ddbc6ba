#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <string>

namespace ov {

// The one failure type of the program: the system's error number, its message text
// and the path the failing operation was about (empty when there is none).
class Error : public std::exception
{
public:
    Error(int code, QString message, QByteArray path = {});

    // From errno: the message is strerror(code).
    static Error fromErrno(int code, QByteArray path = {});

    int code() const noexcept { return m_code; }
    const QString& message() const noexcept { return m_message; }
    const QByteArray& path() const noexcept { return m_path; }
    // The path as a person reads it, quoted where that is needed to be unambiguous.
    QString displayPath() const;
    // "path: message", or the message alone without a path.
    QString text() const;

    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_code;
    QString m_message;
    QByteArray m_path;
    std::string m_what;
};

// Throws Error::fromErrno(errno, path); for the common "if (rc < 0) throwErrno(path)".
[[noreturn]] void throwErrno(const QByteArray& path);
[[noreturn]] void throwError(int code, const QByteArray& path);

// A path in a message: quoted where needed, so that it names the real file unambiguously.
QString displayPath(const QByteArray& path);
// A path as an entry of a list shows it: the text alone (bytes that are not UTF-8 show
// as replacement characters).
QString plainPathText(const QByteArray& path);

} // namespace ov
