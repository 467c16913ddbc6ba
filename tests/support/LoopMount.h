#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace ov::test {

// A small file system in a sparse image file, loop-mounted on a temporary folder; btrfs
// without discards unless the options ask for them.
// Needs root and the file system's mkfs; create() says why not otherwise, so a test
// can skip cleanly.
class LoopMount
{
public:
    static std::unique_ptr<LoopMount> create(const QString& fsType, qint64 sizeBytes,
                                             QString* whyNot, const QString& mountOptions = {},
                                             const QStringList& mkfsOptions = {});
    ~LoopMount();

    QByteArray mountPoint() const { return m_mountPoint; }
    QByteArray imagePath() const { return m_image; }
    QString fsType() const { return m_fsType; }

    // Flushes and unmounts; the image stays for inspection until the object goes.
    bool unmount();
    // Mounts the image again (after unmount), optionally with other options.
    bool remount(const QString& options = {});

private:
    LoopMount() = default;
    QByteArray m_dir;
    QByteArray m_image;
    QByteArray m_mountPoint;
    QString m_fsType;
    bool m_mounted = false;
};

// Runs a program with arguments; true on exit status 0. Output goes to *output.
bool runTool(const QString& program, const QStringList& args, QString* output = nullptr);

// chattr +i on a file or folder for the life of the object: even root may not change it
// then. ok() is false where the file system or the privilege does not allow it.
class Immutable
{
public:
    explicit Immutable(const QByteArray& path);
    ~Immutable();
    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;
    bool ok() const { return m_ok; }

private:
    QString m_path;
    bool m_ok;
};

} // namespace ov::test
