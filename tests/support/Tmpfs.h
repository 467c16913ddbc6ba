#pragma once

#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <sys/mount.h>

namespace ov::test {

// A tmpfs of the given size on a folder of its own (root only; mounted() says whether).
class Tmpfs
{
public:
    explicit Tmpfs(qint64 size) : Tmpfs(size, {}) {}
    // On a folder of the caller's (made when missing).
    Tmpfs(qint64 size, const QByteArray& at) : m_point(at.isEmpty() ? m_dir.path() + "/mnt" : at)
    {
        QDir().mkpath(QFile::decodeName(m_point));
        const QByteArray options = "size=" + QByteArray::number(size);
        m_mounted = runningAsRoot() &&
                    ::mount("tmpfs", m_point.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~Tmpfs() { detach(); }
    bool mounted() const { return m_mounted; }
    QByteArray mountPoint() const { return m_point; }
    QString file(const char* name) const { return QFile::decodeName(m_point + "/" + name); }
    void detach()
    {
        if (m_mounted)
            ::umount2(m_point.constData(), MNT_DETACH);
        m_mounted = false;
    }

private:
    TempDir m_dir;
    QByteArray m_point;
    bool m_mounted = false;
};

} // namespace ov::test
