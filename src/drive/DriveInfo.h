#pragma once

#include "platform/Error.h"
#include "platform/Volumes.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace ov {

// The facts of one volume (a mounted file system): root path, type, label, serial
// number, file system and its flags, and its space. The space figures are asked for
// afresh on every read of AvailableSpace and FreeSpace, the type on every read of
// DriveType; the rest comes from the last Refresh.
class CDriveInfo
{
public:
    // The largest byte count the class holds; a volume reporting more is an overflow.
    static constexpr std::int64_t kMaxByteCount = 922337203685477LL;

    // Describes the file system that holds the current directory. A failure of that
    // first look (an overflow) does not stop the object from being made: it is kept
    // for startFailure() and the object reads as not present.
    explicit CDriveInfo(VolumePlatform& platform);
    const std::optional<Error>& startFailure() const { return m_startFailure; }
    // Describes the volume of NewDrive (as Drive does) without a look at the current
    // directory's first; a failure of the look is thrown.
    CDriveInfo(VolumePlatform& platform, const QByteArray& NewDrive);

    // An entry text of the drive list or a path: an existing path stands for the mount
    // point of its file system, anything else is taken as the root itself. The root
    // path always ends in "/". Then Refresh.
    void Drive(const QByteArray& NewDrive);
    QByteArray Drive() const { return m_rootPath; }
    // Points the object at a mount point as the drive list keeps it, taken as it is
    // (a mount that has gone away then reads as no root directory). Then Refresh.
    void setRootPath(const QByteArray& mountPoint);

    // Asks the system to relabel the volume; when it agrees, the volume facts are read
    // again, otherwise nothing changes.
    void Label(const QByteArray& NewLabel);
    QByteArray Label() const { return m_label; }

    std::int64_t AvailableSpace();
    int DriveType() const;
    QString DriveTypeEx() const;
    QByteArray FileSystem() const { return m_fileSystem; }
    bool FileSystemFlag(std::uint32_t Flag) const { return (m_flags & Flag) == Flag; }
    std::uint32_t FileSystemFlags() const { return m_flags; }
    std::int64_t FreeSpace();
    std::int32_t MaxFilenameLength() const { return m_maxComponentLength; }
    bool Present() const { return m_present; }
    QString SerialNumber() const;
    QString SerialNumberEx() const;
    std::int64_t TotalSpace() const { return m_totalBytes; }
    // The unit the volume allocates space in, from the last space query (0: unknown).
    std::int64_t allocationUnit() const { return m_unitBytes; }
    void Refresh();

    // The space the volume keeps back from users other than the administrator, which this
    // process may not fill (total free minus available); 0 where there is none or this
    // process may fill it.
    std::int64_t reservedSpace() const;
    // The snapshots of the volume's file system, which keep deleted data out of reach of
    // any overwriting of the free space.
    std::vector<QByteArray> snapshots() const;
    // What the file system keeps beyond any file's reach.
    std::vector<KeptBack> keptBackSpace() const { return m_platform.keptBack(m_rootPath); }
    // Whether runs on this volume write over what its file system keeps of deleted names.
    bool keepsNames() const { return m_platform.keepsNames(); }
    // Whether a run's lock covers the whole volume or only the run's folder.
    bool locksWholeVolume() const { return m_platform.locksWholeVolume(); }

    // A byte count as the panel shows it: "912 bytes", "1.50 GB", and with LongDisplay
    // the exact count after it, "1.50 GB (1,610,612,736 bytes)". Fixed "," and "." for
    // any locale; an exact half rounds away from zero.
    static QString FormatSize(std::int64_t Size, bool LongDisplay);
    // The text before the first NUL; without one, the text trimmed of blanks.
    static QByteArray CutAtNul(const QByteArray& text);
    static QString driveTypeText(int code);
    // The notice for a volume that is not present, by drive type; empty for most types.
    static QString notPresentNotice(int code);

private:
    bool HasExport(const char* module, const char* function) const;
    void QuerySpace();
    void QueryVolume();

    VolumePlatform& m_platform;
    QByteArray m_rootPath;
    bool m_extendedQuery = false;
    bool m_present = false;
    std::int64_t m_availableBytes = 0;
    std::int64_t m_freeBytes = 0;
    std::int64_t m_totalBytes = 0;
    std::int64_t m_unitBytes = 0;
    QByteArray m_label;
    std::int32_t m_serialNumber = 0;
    std::int32_t m_maxComponentLength = 0;
    std::uint32_t m_flags = 0;
    QByteArray m_fileSystem;
    std::optional<Error> m_startFailure;
};

} // namespace ov
