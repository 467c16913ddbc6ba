#include "wipe/WipeTarget.h"

#include "platform/DirectRead.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "wipe/PathHelpers.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <vector>

namespace ov {

namespace {

const QString kReplaced = QStringLiteral("The file was replaced while it was being destroyed");

// The folder part and the name of an absolute path ("/a/b" gives "/a" and "b").
std::pair<QByteArray, QByteArray> splitPath(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return {slash == 0 ? QByteArray("/") : path.left(slash), path.mid(slash + 1)};
}

// The same error, naming the file instead of the folder on the way to it.
Error aboutFile(const Error& error, const QByteArray& path)
{
    return Error(error.code(), error.message(), path);
}

} // namespace

WipeTarget::WipeTarget(fs::Folder folder, QByteArray name, QByteArray folderPath,
                       const Rules& rules, const WipeEnv& env)
    : m_folder(std::move(folder)), m_name(std::move(name)), m_folderPath(std::move(folderPath)),
      m_rules(rules), m_env(env)
{}

WipeTarget WipeTarget::prepare(const QByteArray& named, const Rules& rules, const WipeEnv& env)
{
    return env.host.blocking([&] { return prepareHere(named, rules, env); });
}

WipeTarget WipeTarget::prepareIn(fs::Folder folder, const QByteArray& name, const Rules& rules,
                                 const WipeEnv& env)
{
    return env.host.blocking([&] { return prepareInHere(std::move(folder), name, rules, env); });
}

WipeTarget WipeTarget::prepareHere(const QByteArray& named, const Rules& rules, const WipeEnv& env)
{
    if (named.trimmed().isEmpty())
        throw Error(ENOENT, QStringLiteral("No file name given"), named);
    QByteArray path = named;
    if (!path.startsWith('/'))
        path = joinPath(env.startFolder.isEmpty() ? currentDirectory() : env.startFolder, path);
    auto [folderPath, name] = splitPath(path);
    if (name.isEmpty())
        throw Error(EISDIR, QStringLiteral("Ends in a slash, so it names a folder, not a file"),
                    named);
    if (name == "." || name == "..")
        throw Error(EISDIR, QStringLiteral("Is a folder, not a regular file"), named);

    std::optional<fs::Folder> folder;
    try {
        folder.emplace(fs::Folder::open(folderPath, env.host));
    } catch (const Error& error) {
        throw aboutFile(error, path);
    }
    return prepareInHere(std::move(*folder), name, rules, env);
}

WipeTarget WipeTarget::prepareInHere(fs::Folder folder, const QByteArray& name, const Rules& rules,
                                     const WipeEnv& env)
{
    const QByteArray path = folder.pathOf(name);
    const QByteArray folderPath = folder.path();
    WipeTarget target(std::move(folder), name, folderPath, rules, env);
    const std::optional<fs::EntryInfo> look = target.m_folder.lookAt(name);
    if (!look)
        throwError(ENOENT, path);
    fs::requireRegular(path, *look);
    target.m_entry = target.m_folder.openEntry(name);
    const fs::EntryInfo info = fs::entryInfo(target.m_entry, path, env.host);
    if (info.id != look->id || !info.isRegular())
        throw Error(EAGAIN, kReplaced, path);
    target.m_kind = fs::fileSystemOf(target.m_entry, path, env.host);
    if (target.m_kind.writes == WriteKind::KernelInterface)
        throw Error(EINVAL,
                    QStringLiteral("Is a file of the kernel's %1 file system, not stored data; "
                                   "it is left alone")
                        .arg(QString::fromLatin1(target.m_kind.name)),
                    path);
    if (rules.refuseReadOnly && !info.ownerWritable())
        throw Error(EACCES, readOnlyRefusal(), path);
    if (info.size > rules.maxLength)
        throwError(EFBIG, path);
    if (rules.deleteAfter)
        target.m_folder.requireNamesChangeable(info, path);
    if (rules.scramble && name != kScrambledName &&
        target.m_folder.lookAt(kScrambledName).has_value())
        throw Error(EEXIST,
                    QStringLiteral("Is in the way: a file is renamed to this name just before "
                                   "it is deleted, so this is most likely a file whose wipe was "
                                   "cut short (already overwritten, or partly). Wipe it by this "
                                   "name, or move it away if it is yours to keep, then try again"),
                    target.m_folder.pathOf(kScrambledName));
    target.m_id = info.id;
    target.m_links = info.links;
    target.m_mode = info.mode;
    target.m_initialLength = info.size;
    target.m_expectedLength = info.size;
    return target;
}

QString readOnlyRefusal()
{
    return QStringLiteral("The file is read-only");
}

Error WipeTarget::replaced() const
{
    return Error(EAGAIN, kReplaced, path());
}

void WipeTarget::requireSameFile(const QByteArray& name) const
{
    const std::optional<fs::EntryInfo> now = m_folder.lookAt(name);
    if (!now || now->id != m_id || !m_folder.stillAt(m_folderPath))
        throw replaced();
}

void WipeTarget::makeOwnerWritable()
{
    if (m_mode & S_IWUSR)
        return;
    fs::setMode(m_entry, m_mode | S_IWUSR, path(), m_env.host);
    m_modeToRestore = m_mode;
}

void WipeTarget::restoreMode() noexcept
{
    if (!m_modeToRestore)
        return;
    try {
        fs::setMode(m_entry, *m_modeToRestore, path(), m_env.host);
        m_modeToRestore.reset();
    } catch (const Error&) {
        // The failure that brought us here is the one the user needs to hear about.
    }
}

void WipeTarget::remove()
{
    if (m_rules.scramble && m_name != kScrambledName) {
        ScrambleName(*this);
        if (!m_rules.volumeFlush)
            m_folder.sync();
    }
    requireSameFile(m_name);
    m_folder.remove(m_name);
    // Letting go of the last reference to a deleted file frees its blocks, which can take
    // long (a discard for each of them): not on the interface thread.
    m_env.host.runBlocking([this] { m_entry.close(); });
    // The file is gone for good only once its folder says so on the disk.
    if (!m_rules.volumeFlush)
        m_folder.sync();
}

void WipeTarget::renameTo(const QByteArray& name)
{
    requireSameFile(m_name);
    m_folder.rename(m_name, name);
    // Between the look and the rename another file could have taken the name: then that
    // file now has the new name. It gets its own name back, and nothing else happens.
    try {
        requireSameFile(name);
    } catch (const Error&) {
        try {
            m_folder.rename(name, m_name);
        } catch (const Error&) {
        }
        throw;
    }
    m_name = name;
}

WipeOutcome WipeTarget::conclude()
{
    return m_env.host.blocking([this] { return concludeHere(); });
}

WipeOutcome WipeTarget::concludeHere()
{
    // The appended or cut data is not known to be gone.
    if (m_changed)
        throw Error(EAGAIN, QStringLiteral("The file changed while it was being destroyed"),
                    path());
    Verdict verdict = verify();
    if (m_rules.deleteAfter)
        remove();
    return WipeOutcome{true, otherNames(), std::move(verdict)};
}

Verdict WipeTarget::verify()
{
    const off_t length = m_initialLength;
    std::optional<std::vector<fs::Extent>> after;
    if (m_mapped && m_before) {
        const fs::File file = m_folder.openFile(m_name, fs::File::Access::ReadOnly);
        if (file.info().id != m_id)
            throw replaced();
        after = fs::extentsOf(file, 0, length, m_env.host);
    }
    if (auto verdict = judgeByExtents(m_kind, m_before, after, length))
        return *verdict;
    if (!m_env.readBack)
        return notReadBackVerdict(QStringLiteral("reading back was left out as asked"));

    // One read of the old places: from the device itself where this user may read it
    // (the file system's own offsets, not encrypted), else the file past its cache, whose
    // blocks are the old ones.
    const bool encrypted = std::any_of(m_before->begin(), m_before->end(),
                                       [](const fs::Extent& e) { return e.encrypted(); });
    std::optional<fs::DirectReader> device;
    if (m_kind.writes == WriteKind::InPlace && !encrypted)
        device = fs::DirectReader::forVolume(m_id.device, m_env.host);
    std::optional<fs::DirectReader> file;
    if (!device)
        file = fs::DirectReader::forFile(m_folder, m_name, m_id.device, m_id.inode, m_env.host);
    if (!device && !file)
        return notReadBackVerdict(
            QStringLiteral("neither the volume's device nor the file can be read past the cache"));

    constexpr off_t kPiece = 64 << 20;
    // The bytes of one stretch in the reader's terms (device: shifted by `shift`) must
    // all be the byte the wipe left there.
    auto holds = [&](const fs::DirectReader& reader, const WrittenBytes::Stretch& s, off_t shift) {
        for (off_t at = s.from; at < s.to; at += kPiece) {
            if (!reader.holds(at + shift, std::min(kPiece, s.to - at), s.byte))
                return false;
            m_env.host.yield();
        }
        return true;
    };
    if (device) {
        for (const fs::Extent& e : *m_before) {
            if (e.unwritten())
                continue;
            for (const auto& s :
                 m_written.within(e.logical, std::min(e.logical + e.length, length))) {
                if (!holds(*device, s, e.physical - e.logical))
                    return mismatchVerdict(displayPath(device->path()));
            }
        }
        return verifiedVerdict(displayPath(device->path()));
    }
    for (const auto& s : m_written.within(0, length)) {
        if (!holds(*file, s, 0))
            return mismatchVerdict(QStringLiteral("the file's own blocks"));
    }
    return verifiedVerdict(QStringLiteral("the file's own blocks, past the cache"));
}

// --- WipePass ----------------------------------------------------------------------

WipePass::WipePass(WipeTarget& target, fs::File::Access access) : m_target(target)
{
    try {
        m_file.emplace(target.m_folder.openFile(target.m_name, access));
    } catch (const Error&) {
        // A link, a FIFO, another file or nothing where the file was: it was replaced or
        // removed, whatever the open said about what is there now.
        const std::optional<fs::EntryInfo> now = target.m_folder.lookAt(target.m_name);
        if (!now || now->id != target.m_id)
            throw target.replaced();
        throw;
    }
    const fs::EntryInfo info = m_file->info();
    if (info.id != target.m_id) {
        m_file.reset();
        throw target.replaced();
    }
    m_startLength = info.size;
    m_end = info.size;
    if (info.size != target.m_expectedLength)
        target.m_changed = true;
    // Where the old bytes lie, before the first byte is written over them.
    if (!target.m_mapped) {
        target.m_before = fs::extentsOf(*m_file, 0, target.m_initialLength, target.m_env.host);
        target.m_mapped = true;
    }
}

void WipePass::checkStop() const
{
    if (m_target.m_env.stop.now())
        throw Error(ECANCELED,
                    QStringLiteral("Stopped before it was destroyed; it is part-overwritten"),
                    m_target.path());
}

void WipePass::fill(char byte, off_t from, off_t to)
{
    if (to <= from)
        return;
    const size_t piece = size_t(std::min<off_t>(to - from, off_t(kWriteChunk)));
    const std::vector<char> buffer(piece, byte);
    // Within the starting length only the stretches that hold data; beyond it, all.
    const off_t dataLimit = std::min(to, m_startLength);
    auto writeRange = [&](off_t begin, off_t end) {
        for (off_t at = begin; at < end;) {
            const size_t length = size_t(std::min<off_t>(end - at, off_t(piece)));
            write(buffer.data(), length, at);
            at += off_t(length);
            m_target.m_env.host.yield();
        }
    };
    for (off_t at = from; at < dataLimit;) {
        const auto data = m_file->nextData(at, dataLimit);
        if (!data)
            break;
        writeRange(data->first, data->second);
        at = data->second;
    }
    writeRange(std::max(from, m_startLength), to);
}

void WipePass::write(const char* data, size_t length, off_t at)
{
    checkStop();
    // The path no longer leads to the held folder: whatever happens there, the wipe
    // writes nothing more.
    if (!m_target.m_folder.stillAt(m_target.m_folderPath))
        throw m_target.replaced();
    // Cut short or grown by someone else since the last write: what was cut off, or
    // whatever the file held meanwhile, cannot be called destroyed.
    if (m_file->size() != m_end)
        m_target.m_changed = true;
    m_file->writeAt(data, length, at);
    m_end = std::max(m_end, at + off_t(length));
    // Every write of a wipe repeats one byte.
    m_target.m_written.record(at, at + off_t(length), data[0]);
    if (m_target.m_env.onWritten)
        m_target.m_env.onWritten(length);
}

void WipePass::finish()
{
    if (!m_target.m_rules.volumeFlush)
        m_file->sync();
    // Grown or cut short by someone else since the pass began: the wipe cannot say the
    // file is destroyed.
    const off_t length = m_file->size();
    if (length != m_end)
        m_target.m_changed = true;
    m_target.m_expectedLength = length;
    m_file->close();
    m_file.reset();
}

void WipePass::abandon() noexcept
{
    if (!m_file)
        return;
    try {
        if (!m_target.m_rules.volumeFlush)
            m_file->sync();
    } catch (const Error&) {
    }
    try {
        m_file->close();
    } catch (const Error&) {
    }
    m_file.reset();
}

} // namespace ov
