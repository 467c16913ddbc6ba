#include "support/LoopMount.h"

#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace ov::test {

bool runTool(const QString& program, const QStringList& args, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        if (output)
            *output = program + QStringLiteral(" could not be started");
        return false;
    }
    process.waitForFinished(120000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::unique_ptr<LoopMount> LoopMount::create(const QString& fsType, qint64 sizeBytes,
                                             QString* whyNot, const QString& mountOptions,
                                             const QStringList& mkfsOptions)
{
    auto fail = [&](const QString& reason) {
        if (whyNot)
            *whyNot = reason;
        return std::unique_ptr<LoopMount>();
    };
    if (!runningAsRoot())
        return fail(QStringLiteral("loop mounts need root"));
    QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.") + fsType);
    if (mkfs.isEmpty())
        mkfs =
            QStandardPaths::findExecutable(QStringLiteral("mkfs.") + fsType,
                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (mkfs.isEmpty())
        return fail(QStringLiteral("mkfs.") + fsType + QStringLiteral(" is not installed"));

    std::unique_ptr<LoopMount> mount(new LoopMount);
    mount->m_fsType = fsType;
    QByteArray base = QFile::encodeName(QDir::tempPath()) + "/ovloop-XXXXXX";
    if (!::mkdtemp(base.data()))
        return fail(QStringLiteral("cannot make a temporary folder"));
    mount->m_dir = base;
    mount->m_image = base + "/image";
    mount->m_mountPoint = base + "/mnt";
    QDir().mkpath(QFile::decodeName(mount->m_mountPoint));
    {
        QFile image(QFile::decodeName(mount->m_image));
        if (!image.open(QIODevice::WriteOnly) || !image.resize(sizeBytes))
            return fail(QStringLiteral("cannot make the image file"));
    }
    QStringList mkfsArgs;
    if (fsType == QLatin1String("ext4") || fsType == QLatin1String("ext2") ||
        fsType == QLatin1String("ext3"))
        mkfsArgs << QStringLiteral("-q") << QStringLiteral("-F");
    else if (fsType == QLatin1String("xfs") || fsType == QLatin1String("btrfs"))
        mkfsArgs << QStringLiteral("-q") << QStringLiteral("-f");
    mkfsArgs << mkfsOptions << QFile::decodeName(mount->m_image);
    QString output;
    if (!runTool(mkfs, mkfsArgs, &output))
        return fail(QStringLiteral("mkfs failed: ") + output.trimmed());
    if (!mount->remount(mountOptions))
        return fail(QStringLiteral("the kernel would not mount ") + fsType);
    return mount;
}

bool LoopMount::remount(const QString& options)
{
    if (m_mounted)
        return true;
    QString all = QStringLiteral("loop");
    if (!options.isEmpty())
        all += QStringLiteral(",") + options;
    // btrfs discards freed blocks of a loop device by itself (discard=async): the old
    // blocks a test counts remnants in would be punched out of the image before they are
    // read. A test that wants discards asks for them.
    if (m_fsType == QLatin1String("btrfs") && !options.contains(QLatin1String("discard")))
        all += QStringLiteral(",nodiscard");
    QStringList args{QStringLiteral("-o"), all, QFile::decodeName(m_image),
                     QFile::decodeName(m_mountPoint)};
    m_mounted = runTool(QStringLiteral("mount"), args);
    return m_mounted;
}

bool LoopMount::unmount()
{
    if (!m_mounted)
        return true;
    // Unmounting writes everything out; nothing else on the machine needs flushing.
    m_mounted = !runTool(QStringLiteral("umount"), {QFile::decodeName(m_mountPoint)});
    return !m_mounted;
}

LoopMount::~LoopMount()
{
    if (m_mounted && !unmount())
        runTool(QStringLiteral("umount"), {QStringLiteral("-l"), QFile::decodeName(m_mountPoint)});
    if (!m_dir.isEmpty())
        QDir(QFile::decodeName(m_dir)).removeRecursively();
}

Immutable::Immutable(const QByteArray& path)
    : m_path(QFile::decodeName(path)), m_ok(runTool(QStringLiteral("chattr"), {"+i", m_path}))
{}

Immutable::~Immutable()
{
    if (m_ok)
        runTool(QStringLiteral("chattr"), {"-i", m_path});
}

} // namespace ov::test
