#pragma once

#include "support/fuse/WatchBoard.h"

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <memory>

namespace ov::test {

// A running ov_testfs (see fuse/TestFs.cpp), mounted on a temporary folder and unmounted
// when the object goes. create() says why not where FUSE cannot be mounted (no root, no
// /dev/fuse), so a test can skip cleanly.
class FuseMount
{
public:
    // A slow or watched view of `source`.
    static std::unique_ptr<FuseMount> passthrough(const QByteArray& source, int delayMs,
                                                  bool watched, QString* whyNot);
    ~FuseMount();

    QByteArray mountPoint() const { return m_mountPoint; }
    // The watch board, with `watched`; null otherwise.
    WatchBoard* board() const { return m_board; }

private:
    friend class PowerCutDisk;
    FuseMount() = default;
    bool start(const QStringList& args, QString* whyNot);

    QByteArray m_dir;
    QByteArray m_mountPoint;
    QProcess m_process;
    WatchBoard* m_board = nullptr;
    int m_boardFd = -1;
};

// A file system in an image whose writes are kept only once flushed, as a power cut would
// leave them: ov_testfs in image mode, a loop device over its disk.img, and `fsType`
// mounted from it. snapshot() takes the disk as it would be found after a power cut at
// that moment; inspect() mounts such a snapshot (replaying its journal) to look at it.
class PowerCutDisk
{
public:
    static std::unique_ptr<PowerCutDisk> create(const QString& fsType, qint64 sizeBytes,
                                                QString* whyNot);
    ~PowerCutDisk();

    QByteArray mountPoint() const { return m_mountPoint; }
    // Flushes everything (syncfs), so that what exists now survives.
    void settle();
    // The disk image after a power cut now; empty on failure.
    QByteArray snapshot(const QString& name);
    // From now on the disk acknowledges writes without keeping them.
    bool loseWrites();
    QString loopDevice() const { return m_loop; }
    // The names under `folder` of a snapshot, once mounted the way a reboot would.
    QStringList namesAfterReboot(const QByteArray& image, const QString& folder = {});

private:
    PowerCutDisk() = default;
    bool control(const QByteArray& command);
    QByteArray m_dir;
    QByteArray m_mountPoint;
    QString m_fsType;
    QString m_loop;
    std::unique_ptr<FuseMount> m_fuse;
};

} // namespace ov::test
