#include "support/FuseMount.h"

#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ov::test {

namespace {

QByteArray makeTempFolder(const char* pattern)
{
    QByteArray base = QFile::encodeName(QDir::tempPath()) + "/" + pattern;
    return ::mkdtemp(base.data()) ? base : QByteArray();
}

bool mountedOn(const QByteArray& path)
{
    struct stat here, parent;
    return ::stat(path.constData(), &here) == 0 &&
           ::stat((path + "/..").constData(), &parent) == 0 && here.st_dev != parent.st_dev;
}

QString fsError(const QString& fsType)
{
    return QStringLiteral("mkfs.") + fsType + QStringLiteral(" is not installed");
}

} // namespace

bool FuseMount::start(const QStringList& args, QString* whyNot)
{
    auto fail = [&](const QString& reason) {
        if (whyNot)
            *whyNot = reason;
        return false;
    };
    if (!runningAsRoot())
        return fail(QStringLiteral("mounting FUSE needs root here"));
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return fail(QStringLiteral("no /dev/fuse"));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(OV_TESTFS_PATH), args);
    if (!m_process.waitForStarted(10000))
        return fail(QStringLiteral("ov_testfs could not be started"));
    for (int i = 0; i < 500 && !mountedOn(m_mountPoint); ++i) {
        if (m_process.state() == QProcess::NotRunning)
            return fail(QStringLiteral("ov_testfs could not mount"));
        QThread::msleep(10);
    }
    return mountedOn(m_mountPoint) || fail(QStringLiteral("the FUSE mount did not appear"));
}

std::unique_ptr<FuseMount> FuseMount::passthrough(const QByteArray& source, int delayMs,
                                                  bool watched, QString* whyNot)
{
    std::unique_ptr<FuseMount> mount(new FuseMount);
    mount->m_dir = makeTempFolder("ovfuse-XXXXXX");
    mount->m_mountPoint = mount->m_dir + "/mnt";
    QDir().mkpath(QFile::decodeName(mount->m_mountPoint));
    QStringList args{QStringLiteral("passthrough"), QFile::decodeName(source),
                     QFile::decodeName(mount->m_mountPoint), QStringLiteral("--delay-ms"),
                     QString::number(delayMs)};
    if (watched) {
        const QByteArray boardPath = mount->m_dir + "/board";
        mount->m_boardFd = ::open(boardPath.constData(), O_RDWR | O_CREAT, 0600);
        if (mount->m_boardFd < 0 || ::ftruncate(mount->m_boardFd, sizeof(WatchBoard)) != 0)
            return nullptr;
        void* shared = ::mmap(nullptr, sizeof(WatchBoard), PROT_READ | PROT_WRITE, MAP_SHARED,
                              mount->m_boardFd, 0);
        if (shared == MAP_FAILED)
            return nullptr;
        mount->m_board = new (shared) WatchBoard;
        args << QStringLiteral("--watch") << QFile::decodeName(boardPath);
    }
    if (!mount->start(args, whyNot))
        return nullptr;
    return mount;
}

FuseMount::~FuseMount()
{
    if (mountedOn(m_mountPoint))
        runTool(QStringLiteral("umount"), {QStringLiteral("-l"), QFile::decodeName(m_mountPoint)});
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    if (m_board)
        ::munmap(m_board, sizeof(WatchBoard));
    if (m_boardFd >= 0)
        ::close(m_boardFd);
    if (!m_dir.isEmpty())
        QDir(QFile::decodeName(m_dir)).removeRecursively();
}

std::unique_ptr<PowerCutDisk> PowerCutDisk::create(const QString& fsType, qint64 sizeBytes,
                                                   QString* whyNot)
{
    auto fail = [&](const QString& reason) {
        if (whyNot)
            *whyNot = reason;
        return std::unique_ptr<PowerCutDisk>();
    };
    if (!runningAsRoot())
        return fail(QStringLiteral("loop devices need root"));
    const QString mkfs = QStandardPaths::findExecutable(
        QStringLiteral("mkfs.") + fsType, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (mkfs.isEmpty())
        return fail(fsError(fsType));
    std::unique_ptr<PowerCutDisk> disk(new PowerCutDisk);
    disk->m_fsType = fsType;
    disk->m_dir = makeTempFolder("ovpowercut-XXXXXX");
    const QString dir = QFile::decodeName(disk->m_dir);
    const QString current = dir + QStringLiteral("/current.img");
    const QString durable = dir + QStringLiteral("/durable.img");
    disk->m_mountPoint = disk->m_dir + "/mnt";
    QDir().mkpath(dir + QStringLiteral("/mnt"));
    {
        QFile image(current);
        if (!image.open(QIODevice::WriteOnly) || !image.resize(sizeBytes))
            return fail(QStringLiteral("cannot make the image file"));
    }
    // Everything the file system sets up is written now, not lazily in the background.
    QStringList mkfsArgs{QStringLiteral("-q")};
    if (fsType.startsWith(QLatin1String("ext")))
        mkfsArgs << QStringLiteral("-F") << QStringLiteral("-E")
                 << QStringLiteral("lazy_itable_init=0,lazy_journal_init=0");
    else
        mkfsArgs << QStringLiteral("-f");
    QString output;
    if (!runTool(mkfs, mkfsArgs << current, &output))
        return fail(QStringLiteral("mkfs failed: ") + output.trimmed());
    if (!runTool(QStringLiteral("cp"), {QStringLiteral("--sparse=always"), current, durable}))
        return fail(QStringLiteral("cannot copy the image"));

    disk->m_fuse.reset(new FuseMount);
    disk->m_fuse->m_mountPoint = disk->m_dir + "/fuse";
    QDir().mkpath(dir + QStringLiteral("/fuse"));
    if (!disk->m_fuse->start(
            {QStringLiteral("image"), current, durable, dir + QStringLiteral("/fuse")}, whyNot))
        return nullptr;
    if (!runTool(QStringLiteral("losetup"),
                 {QStringLiteral("-f"), QStringLiteral("--show"),
                  dir + QStringLiteral("/fuse/disk.img")},
                 &output))
        return fail(QStringLiteral("no loop device: ") + output.trimmed());
    disk->m_loop = output.trimmed();
    // No timed commit of the journal: only the flushes the program asks for count. No
    // discards by btrfs either: the freed blocks stay for the test to look at.
    const QString options = fsType.startsWith(QLatin1String("ext")) ? QStringLiteral("commit=600")
                            : fsType == QLatin1String("btrfs")      ? QStringLiteral("nodiscard")
                                                                    : QStringLiteral("defaults");
    if (!runTool(QStringLiteral("mount"),
                 {QStringLiteral("-o"), options, disk->m_loop, dir + QStringLiteral("/mnt")},
                 &output))
        return fail(QStringLiteral("the kernel would not mount ") + fsType + QStringLiteral(": ") +
                    output.trimmed());
    return disk;
}

void PowerCutDisk::settle()
{
    const int fd = ::open(m_mountPoint.constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

bool PowerCutDisk::control(const QByteArray& command)
{
    QFile file(QFile::decodeName(m_dir + "/fuse/ctl"));
    return file.open(QIODevice::WriteOnly) && file.write(command + "\n") > 0;
}

QByteArray PowerCutDisk::snapshot(const QString& name)
{
    const QByteArray image = m_dir + "/" + QFile::encodeName(name);
    return control("snapshot " + image) ? image : QByteArray();
}

bool PowerCutDisk::loseWrites()
{
    return control("lose-writes");
}

QStringList PowerCutDisk::namesAfterReboot(const QByteArray& image, const QString& folder)
{
    const QString at = QFile::decodeName(m_dir) + QStringLiteral("/reboot");
    QDir().mkpath(at);
    // A copy of a mounted volume: xfs must be told to accept the same identity twice.
    const QString options =
        m_fsType == QLatin1String("xfs") ? QStringLiteral("loop,nouuid") : QStringLiteral("loop");
    if (!runTool(QStringLiteral("mount"),
                 {QStringLiteral("-o"), options, QFile::decodeName(image), at}))
        return {QStringLiteral("<the snapshot does not mount>")};
    QStringList names =
        QDir(at + QLatin1Char('/') + folder)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.removeAll(QStringLiteral("lost+found"));
    runTool(QStringLiteral("umount"), {at});
    return names;
}

PowerCutDisk::~PowerCutDisk()
{
    if (mountedOn(m_mountPoint))
        runTool(QStringLiteral("umount"), {QFile::decodeName(m_mountPoint)});
    if (!m_loop.isEmpty())
        runTool(QStringLiteral("losetup"), {QStringLiteral("-d"), m_loop});
    m_fuse.reset();
    if (!m_dir.isEmpty())
        QDir(QFile::decodeName(m_dir)).removeRecursively();
}

} // namespace ov::test
