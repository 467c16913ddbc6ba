#include "support/TempDir.h"

#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <stdexcept>
#include <string>
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
    const off_t piece = 8 << 20;
    long long count = 0;
    QByteArray block;
    // Only the stretches that hold data: a hole of a sparse image holds no needle, and a
    // match cannot span a hole.
    for (off_t at = 0;;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0)
            break;
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        QByteArray carry;
        for (off_t from = data; from < hole;) {
            block.resize(qsizetype(std::min(piece, hole - from)));
            const ssize_t n = ::pread(fd, block.data(), size_t(block.size()), from);
            if (n <= 0)
                break;
            block.resize(n);
            from += n;
            const QByteArray window = carry + block;
            qsizetype next = 0;
            for (qsizetype found; (found = window.indexOf(needle, next)) >= 0;) {
                ++count;
                next = found + needle.size();
            }
            // A tail shorter than the needle, so a match across pieces is seen once.
            const qsizetype keep = std::min<qsizetype>(needle.size() - 1, window.size() - next);
            carry = window.right(std::max<qsizetype>(keep, 0));
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

DeepTree::DeepTree(QByteArray top, int depth, int nameLength)
    : m_top(std::move(top)), m_name(nameLength, 'd'), m_depth(depth)
{
    int fd = ::open(m_top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 1; fd >= 0 && level <= depth; ++level) {
        if (::mkdirat(fd, m_name.constData(), 0755) != 0) {
            ::close(fd);
            fd = -1;
            break;
        }
        const int next = ::openat(fd, m_name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    if (fd < 0)
        throw std::runtime_error("cannot make the deep tree under " + m_top.toStdString());
    ::close(fd);
}

DeepTree::~DeepTree()
{
    // rm goes down any depth.
    QProcess::execute(QStringLiteral("rm"),
                      {QStringLiteral("-rf"), QFile::decodeName(m_top + '/' + m_name)});
}

QByteArray DeepTree::folder(int level) const
{
    QByteArray path = m_top;
    for (int i = 0; i < level; ++i)
        path += '/' + m_name;
    return path;
}

int DeepTree::open(int level) const
{
    int fd = ::open(m_top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; fd >= 0 && i < level; ++i) {
        const int next = ::openat(fd, m_name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    if (fd < 0)
        throw std::runtime_error("cannot reach level " + std::to_string(level) + " of " +
                                 m_top.toStdString());
    return fd;
}

void DeepTree::writeFile(int level, const QByteArray& name, const QByteArray& content) const
{
    const int folder = open(level);
    const int fd =
        ::openat(folder, name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::close(folder);
    if (fd < 0 || ::write(fd, content.constData(), size_t(content.size())) != content.size()) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot write " + name.toStdString());
    }
    ::close(fd);
}

QByteArray DeepTree::readFile(int level, const QByteArray& name) const
{
    const int folder = open(level);
    const int fd = ::openat(folder, name.constData(), O_RDONLY | O_CLOEXEC);
    ::close(folder);
    if (fd < 0)
        throw std::runtime_error("cannot read " + name.toStdString());
    QByteArray content(1 << 16, '\0');
    const ssize_t n = ::read(fd, content.data(), size_t(content.size()));
    ::close(fd);
    content.resize(std::max<ssize_t>(n, 0));
    return content;
}

} // namespace ov::test
