#include "platform/MountTable.h"

#include "platform/FileSystemKind.h"

#include "platform/Error.h"
#include "platform/FileSystemKind.h"
#include "platform/Files.h"
#include "platform/Volumes.h"

#include <QList>

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace ov {

namespace {

bool optionListHas(const QByteArray& list, const char* name)
{
    const QByteArray wanted(name);
    for (const QByteArray& option : list.split(',')) {
        if (option == wanted || option.startsWith(wanted + "="))
            return true;
    }
    return false;
}

// A path is under a mount point when it equals it or continues it after a "/".
bool isUnder(const QByteArray& path, const QByteArray& mountPoint)
{
    if (mountPoint == "/")
        return path.startsWith('/');
    return path == mountPoint || (path.startsWith(mountPoint) && path[mountPoint.size()] == '/');
}

} // namespace

bool MountRecord::hasOption(const char* name) const
{
    return optionListHas(mountOptions, name) || optionListHas(superOptions, name);
}

QList<QByteArray> MountRecord::optionValues(const char* name) const
{
    const QByteArray equals = QByteArray(name) + '=', plus = QByteArray(name) + "+=";
    QList<QByteArray> values;
    for (const QByteArray& option : superOptions.split(',')) {
        if (option.startsWith(equals))
            values << MountTable::decodeOctalEscapes(option.mid(equals.size()));
        else if (option.startsWith(plus))
            values << MountTable::decodeOctalEscapes(option.mid(plus.size()));
    }
    return values;
}

QByteArray MountRecord::overlayUpper() const
{
    const QList<QByteArray> values = optionValues("upperdir");
    return values.isEmpty() ? QByteArray() : values.last();
}

QList<QByteArray> MountRecord::overlayLowers() const
{
    // "lowerdir=a:b::data" once, or "lowerdir+=a" for each; a ':' within a folder's name
    // is written "\:".
    QList<QByteArray> folders;
    for (const QByteArray& value : optionValues("lowerdir") + optionValues("datadir")) {
        QByteArray folder;
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) {
                folder += value[++i];
            } else if (value[i] == ':') {
                if (!folder.isEmpty())
                    folders << folder;
                folder.clear();
            } else {
                folder += value[i];
            }
        }
        if (!folder.isEmpty())
            folders << folder;
    }
    return folders;
}

MountTable MountTable::read()
{
    MountTable table;
    try {
        table = parse(fs::readFile("/proc/self/mountinfo"));
    } catch (const Error&) {
        return {};
    }
    struct stat st;
    struct statfs sf;
    if (::stat("/", &st) == 0 && ::statfs("/", &sf) == 0)
        table.addProcessRoot(major(st.st_dev), minor(st.st_dev),
                             fileSystemKindByMagic(long(sf.f_type)).name,
                             (sf.f_flags & ST_RDONLY) != 0);
    return table;
}

void MountTable::addProcessRoot(unsigned major, unsigned minor, const QByteArray& fileSystem,
                                bool readOnly)
{
    for (const MountRecord& record : m_records) {
        if (record.mountPoint == "/")
            return;
    }
    // In a chroot the kernel lists no mount for "/": the root's own file system stands
    // in, described by a mount of the same device when the table has one, else by statfs.
    MountRecord root;
    root.major = major;
    root.minor = minor;
    root.root = "/";
    root.mountPoint = "/";
    root.fileSystem = fileSystem.isEmpty() ? QByteArray("unknown") : fileSystem;
    root.source = "chroot";
    root.mountOptions = readOnly ? "ro" : "rw";
    for (const MountRecord& record : m_records) {
        if (record.major == major && record.minor == minor) {
            root.fileSystem = record.fileSystem;
            root.source = record.source;
            root.superOptions = record.superOptions;
            break;
        }
    }
    m_records.insert(m_records.begin(), std::move(root));
}

MountTable MountTable::parse(const QByteArray& mountInfo)
{
    MountTable table;
    for (const QByteArray& line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mountpoint options [optional...] - type source super
        const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
        if (fields.size() < 7 || separator < 0 || separator + 2 >= fields.size())
            continue;
        MountRecord record;
        record.id = fields[0].toInt();
        const QList<QByteArray> numbers = fields[2].split(':');
        if (numbers.size() == 2) {
            record.major = numbers[0].toUInt();
            record.minor = numbers[1].toUInt();
        }
        record.root = decodeOctalEscapes(fields[3]);
        record.mountPoint = stripRoot(decodeOctalEscapes(fields[4]));
        record.mountOptions = fields[5];
        record.fileSystem = decodeOctalEscapes(fields[separator + 1]);
        record.source = decodeOctalEscapes(fields[separator + 2]);
        if (separator + 3 < fields.size())
            record.superOptions = fields[separator + 3];
        table.m_records.push_back(std::move(record));
    }
    return table;
}

const MountRecord* MountTable::findRoot(const QByteArray& rootPath) const
{
    const QByteArray wanted = stripRoot(rootPath);
    const MountRecord* found = nullptr;
    for (const MountRecord& record : m_records) {
        if (record.mountPoint == wanted)
            found = &record; // a later mount on the same point hides the earlier one
    }
    return found;
}

const MountRecord* MountTable::findId(int id) const
{
    for (const MountRecord& record : m_records) {
        if (record.id == id)
            return &record;
    }
    return nullptr;
}

QByteArray MountTable::mountPointOf(const QByteArray& canonicalPath) const
{
    QByteArray best;
    for (const MountRecord& record : m_records) {
        if (isUnder(canonicalPath, record.mountPoint) && record.mountPoint.size() >= best.size())
            best = record.mountPoint;
    }
    return best.isEmpty() ? QByteArray("/") : best;
}

QByteArray MountTable::decodeOctalEscapes(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], d = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && d >= '0' && d <= '7') {
                out.append(char(((a - '0') << 6) | ((b - '0') << 3) | (d - '0')));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

bool MountTable::isPseudoFileSystem(const QByteArray& type)
{
    return fileSystemKindByName(type).has(kNotAVolume);
}

QByteArray MountTable::stripRoot(const QByteArray& rootPath)
{
    QByteArray path = rootPath;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

std::uint32_t MountTable::flagsFor(const MountRecord& mount, bool statReadOnly)
{
    const QByteArray& type = mount.fileSystem;
    const FileSystemKind kind = fileSystemKindByName(type);
    std::uint32_t flags = 0;
    if (kind.has(kCaseSensitiveNames))
        flags |= kCaseSensitiveSearch | kCasePreservedNames;
    else if (kind.has(kCasePreservingNames))
        flags |= kCasePreservedNames;
    if (kind.has(kCompressedWhole) ||
        (type == "btrfs" && (mount.hasOption("compress") || mount.hasOption("compress-force"))))
        flags |= kVolumeIsCompressed;
    if (statReadOnly || mount.hasOption("ro"))
        flags |= kReadOnlyVolume;
    return flags;
}

} // namespace ov
