#include "support/TempDir.h"

#include <QFile>

#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace ov::test {

TempDir::TempDir() : m_dir(QDir::tempPath() + QStringLiteral("/ovtest-XXXXXX")) {}

TempDir::TempDir(const QByteArray& parent)
    : m_dir(QFile::decodeName(parent) + QStringLiteral("/ovtest-XXXXXX"))
{}

QByteArray TempDir::path() const
{
    return QFile::encodeName(m_dir.path());
}

QByteArray TempDir::file(const char* name) const
{
    return path() + '/' + name;
}

QByteArray TempDir::file(const QByteArray& name) const
{
    return path() + '/' + name;
}

void writeFile(const QByteArray& path, const QByteArray& content)
{
    int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path.toStdString());
    const char* data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, size_t(left));
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path.toStdString());
        }
        data += n;
        left -= n;
    }
    ::close(fd);
}

QByteArray readFile(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

bool exists(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

long long countOccurrences(const QByteArray& path, const QByteArray& needle)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot read " + path.toStdString());
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const qsizetype piece = 8 << 20;
    QByteArray window(piece + needle.size(), Qt::Uninitialized);
    long long count = 0;
    // Only the stretches that hold data: a sparse disk image's holes hold no needle, and
    // reading them costs more than all the rest.
    for (off_t at = 0; at < size;) {
        off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0)
            break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            hole = size;
        qsizetype carried = 0; // a tail shorter than the needle, seen again with what follows
        for (off_t from = data; from < hole;) {
            const ssize_t n = ::pread(fd, window.data() + carried,
                                      size_t(std::min<off_t>(piece, hole - from)), from);
            if (n <= 0)
                break;
            from += n;
            const qsizetype filled = carried + n;
            qsizetype searched = 0;
            while (const void* found =
                       ::memmem(window.constData() + searched, size_t(filled - searched),
                                needle.constData(), size_t(needle.size()))) {
                ++count;
                searched = static_cast<const char*>(found) - window.constData() + needle.size();
            }
            carried = std::min<qsizetype>(needle.size() - 1, filled - searched);
            std::memmove(window.data(), window.constData() + filled - carried, size_t(carried));
        }
        at = hole;
    }
    ::close(fd);
    return count;
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

} // namespace ov::test
