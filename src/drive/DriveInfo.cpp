#include "drive/DriveInfo.h"

#include "platform/Error.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>

namespace ov {

namespace {

QByteArray asRootPath(const QByteArray& path)
{
    return path.endsWith('/') ? path : path + "/";
}

[[noreturn]] void overflow(const QByteArray& rootPath)
{
    throw Error(EOVERFLOW,
                QStringLiteral("Overflow: the volume reports more bytes than can be "
                               "counted"),
                rootPath);
}

// Whole number with "," between groups of three digits.
QString grouped(std::int64_t value)
{
    const bool negative = value < 0;
    // Work on the magnitude without overflowing at the smallest value.
    std::uint64_t magnitude =
        negative ? std::uint64_t(0) - std::uint64_t(value) : std::uint64_t(value);
    QString digits = QString::number(magnitude);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return negative ? QLatin1Char('-') + digits : digits;
}

// size / divisor with the given decimals, rounded half away from zero; size >= 0.
QString fixed(std::int64_t size, std::int64_t divisor, int decimals)
{
    std::int64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    std::int64_t whole = size / divisor;
    const std::int64_t rest = size % divisor; // below 2^30, so rest * scale fits
    std::int64_t fraction = rest * scale / divisor;
    const std::int64_t left = rest * scale % divisor;
    if (2 * left >= divisor)
        ++fraction;
    if (fraction == scale) {
        ++whole;
        fraction = 0;
    }
    QString text = QString::number(whole);
    if (decimals > 0)
        text +=
            QLatin1Char('.') + QString::number(fraction).rightJustified(decimals, QLatin1Char('0'));
    return text;
}

} // namespace

CDriveInfo::CDriveInfo(VolumePlatform& platform) : m_platform(platform)
{
    m_extendedQuery = HasExport("libc.so.6", "statvfs64");
    const std::optional<QByteArray> here = m_platform.mountPointOf(currentDirectory());
    m_rootPath = asRootPath(here ? *here : QByteArray("/"));
    try {
        Refresh();
    } catch (const Error& error) {
        m_startFailure = error;
    }
}

CDriveInfo::CDriveInfo(VolumePlatform& platform, const QByteArray& NewDrive) : m_platform(platform)
{
    m_extendedQuery = HasExport("libc.so.6", "statvfs64");
    Drive(NewDrive);
}

void CDriveInfo::Drive(const QByteArray& NewDrive)
{
    std::optional<QByteArray> mountPoint = m_platform.mountPointOf(NewDrive);
    const qsizetype labelAt = NewDrive.lastIndexOf(" [");
    if (!mountPoint && NewDrive.endsWith(']') && labelAt > 0) {
        // An entry text of the drive list: the mount point before the label.
        m_rootPath = asRootPath(NewDrive.left(labelAt));
    } else if (mountPoint) {
        m_rootPath = asRootPath(*mountPoint);
    } else {
        m_rootPath = asRootPath(NewDrive);
    }
    Refresh();
}

void CDriveInfo::setRootPath(const QByteArray& mountPoint)
{
    m_rootPath = asRootPath(mountPoint);
    Refresh();
}

void CDriveInfo::Label(const QByteArray& NewLabel)
{
    if (m_platform.setLabel(m_rootPath, NewLabel))
        QueryVolume();
}

std::int64_t CDriveInfo::AvailableSpace()
{
    QuerySpace();
    return m_availableBytes;
}

int CDriveInfo::DriveType() const
{
    return m_platform.driveType(m_rootPath);
}

QString CDriveInfo::DriveTypeEx() const
{
    return driveTypeText(DriveType());
}

std::int64_t CDriveInfo::FreeSpace()
{
    QuerySpace();
    return m_freeBytes;
}

QString CDriveInfo::SerialNumber() const
{
    return QString::number(m_serialNumber);
}

QString CDriveInfo::SerialNumberEx() const
{
    if (m_serialNumber == 0)
        return {};
    const QString hex = QString::number(std::uint32_t(m_serialNumber), 16)
                            .toUpper()
                            .rightJustified(8, QLatin1Char('0'));
    return hex.left(4) + QLatin1Char('-') + hex.mid(4);
}

void CDriveInfo::Refresh()
{
    QuerySpace();
    if (m_present)
        QueryVolume();
}

std::int64_t CDriveInfo::reservedSpace() const
{
    return std::int64_t(std::min<std::uint64_t>(m_platform.reserveOutOfReach(m_rootPath),
                                                std::uint64_t(kMaxByteCount)));
}

std::vector<QByteArray> CDriveInfo::snapshots() const
{
    return m_platform.snapshots(m_rootPath);
}

bool CDriveInfo::HasExport(const char* module, const char* function) const
{
    return m_platform.hasExport(module, function);
}

void CDriveInfo::QuerySpace()
{
    m_availableBytes = 0;
    m_totalBytes = 0;
    m_freeBytes = 0;
    m_unitBytes = 0;
    m_present = false;
    if (m_extendedQuery) {
        const std::optional<SpaceFigures> space = m_platform.querySpaceEx(m_rootPath);
        if (!space)
            return;
        const std::uint64_t limit = std::uint64_t(kMaxByteCount);
        if (space->availableBytes > limit)
            overflow(m_rootPath);
        m_availableBytes = std::int64_t(space->availableBytes);
        if (space->totalBytes > limit)
            overflow(m_rootPath);
        m_totalBytes = std::int64_t(space->totalBytes);
        if (space->freeBytes > limit)
            overflow(m_rootPath);
        m_freeBytes = std::int64_t(space->freeBytes);
        m_unitBytes = std::int64_t(std::min<std::uint64_t>(space->unitBytes, limit));
        m_present = true;
        return;
    }
    const std::optional<ClusterFigures> clusters = m_platform.queryClusters(m_rootPath);
    if (!clusters)
        return;
    // The old query's products are worked in signed 32 bits, as its callers did.
    auto product = [&](std::uint32_t count) {
        const std::int64_t cluster =
            std::int64_t(clusters->sectorsPerCluster) * std::int64_t(clusters->bytesPerSector);
        if (clusters->sectorsPerCluster > 0x7FFFFFFFu || clusters->bytesPerSector > 0x7FFFFFFFu ||
            count > 0x7FFFFFFFu || cluster > 0x7FFFFFFF)
            overflow(m_rootPath);
        const std::int64_t value = cluster * std::int64_t(count);
        if (value > 0x7FFFFFFF)
            overflow(m_rootPath);
        return value;
    };
    m_totalBytes = product(clusters->totalClusters);
    m_freeBytes = product(clusters->freeClusters);
    m_availableBytes = m_freeBytes;
    m_unitBytes =
        std::int64_t(clusters->sectorsPerCluster) * std::int64_t(clusters->bytesPerSector);
    m_present = true;
}

void CDriveInfo::QueryVolume()
{
    const std::optional<VolumeFacts> facts = m_platform.queryVolume(m_rootPath);
    if (!facts) {
        m_label.clear();
        m_serialNumber = 0;
        m_maxComponentLength = 0;
        m_flags = 0;
        m_fileSystem.clear();
        m_present = false;
        return;
    }
    m_label = CutAtNul(facts->label);
    m_fileSystem = CutAtNul(facts->fileSystem);
    m_serialNumber = std::int32_t(facts->serialNumber);
    m_maxComponentLength = std::int32_t(facts->maxComponentLength);
    m_flags = facts->flags;
    m_present = true;
}

QString CDriveInfo::FormatSize(std::int64_t Size, bool LongDisplay)
{
    constexpr std::int64_t KB = 1024;
    constexpr std::int64_t MB = 1048576;
    constexpr std::int64_t GB = 1073741824;
    QString text;
    if (Size < KB)
        return grouped(Size) + (Size == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    // The rows compare the exact size in KB; Size < n KB is Size < n * 1024.
    if (Size < 10 * KB)
        text = fixed(Size, KB, 2) + QStringLiteral(" KB");
    else if (Size < 100 * KB)
        text = fixed(Size, KB, 1) + QStringLiteral(" KB");
    else if (Size < 1000 * KB)
        text = fixed(Size, KB, 0) + QStringLiteral(" KB");
    else if (Size < 10000 * KB)
        text = fixed(Size, MB, 2) + QStringLiteral(" MB");
    else if (Size < 100000 * KB)
        text = fixed(Size, MB, 1) + QStringLiteral(" MB");
    else if (Size < 1000000 * KB)
        text = fixed(Size, MB, 0) + QStringLiteral(" MB");
    else if (Size < 10000000 * KB)
        text = fixed(Size, GB, 2) + QStringLiteral(" GB");
    else if (Size < 100000000 * KB)
        text = fixed(Size, GB, 1) + QStringLiteral(" GB");
    else
        text = fixed(Size, GB, 0) + QStringLiteral(" GB");
    if (LongDisplay)
        text += QStringLiteral(" (") + grouped(Size) + QStringLiteral(" bytes)");
    return text;
}

QByteArray CDriveInfo::CutAtNul(const QByteArray& text)
{
    const qsizetype at = text.indexOf('\0');
    if (at >= 1)
        return text.left(at);
    if (at == 0)
        return {};
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return text.mid(begin, end - begin);
}

QString CDriveInfo::driveTypeText(int code)
{
    switch (code) {
    case kDriveNoRootDir:
        return QStringLiteral("No Root Directory");
    case kDriveRemovable:
        return QStringLiteral("Removable");
    case kDriveFixed:
        return QStringLiteral("Fixed");
    case kDriveRemote:
        return QStringLiteral("Remote");
    case kDriveCdRom:
        return QStringLiteral("CD-ROM");
    case kDriveRamDisk:
        return QStringLiteral("RAM Disk");
    default:
        return QStringLiteral("Unknown");
    }
}

QString CDriveInfo::notPresentNotice(int code)
{
    switch (code) {
    case kDriveNoRootDir:
        return QStringLiteral("[Drive Not Mapped]");
    case kDriveRemovable:
        return QStringLiteral("[Disk Not Present]");
    case kDriveCdRom:
        return QStringLiteral("[Disc Not Present]");
    default:
        return {};
    }
}

} // namespace ov
