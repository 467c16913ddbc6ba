#include "wipe/WipeTarget.h"

#include "platform/BlockDevices.h"
#include "platform/DirectRead.h"
#include "platform/Error.h"
#include "platform/Extents.h"
#include "platform/Layers.h"
#include "platform/Paths.h"
#include "wipe/PathHelpers.h"

#include <algorithm>
#include <cerrno>
#include <linux/fs.h>
#include <sys/stat.h>
#include <vector>

namespace ov {

namespace {

const QString kReplaced = QStringLiteral("The file was replaced while it was being destroyed");
const QString kFlash = QStringLiteral(
    "flash memory may keep older copies; encrypt the volume, or use the device's secure erase");

// The options of a mount that change how its files are written.
void applyMountOptions(Reach& reach, const MountRecord& mount)
{
    if (mount.hasOption("compress") || mount.hasOption("compress-force"))
        reach.compressed = true;
    if (mount.optionValues("data").contains("journal"))
        reach.journalsData = true;
}

// The file's own flags: marked to be overwritten in place, compressed, journalled.
void applyFileFlags(Reach& reach, const fs::File& file, BlockingRunner& runner)
{
    const std::optional<unsigned> flags = fs::inodeFlagsOf(file, runner);
    if (!flags)
        return;
    reach.noCow = (*flags & FS_NOCOW_FL) != 0;
    if (*flags & FS_COMPR_FL)
        reach.compressed = true;
    if (*flags & FS_JOURNAL_DATA_FL)
        reach.journalsData = true;
}

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
    return env.runner.blocking([&] { return prepareHere(named, rules, env); });
}

WipeTarget WipeTarget::prepareIn(fs::Folder folder, const QByteArray& name, const Rules& rules,
                                 const WipeEnv& env)
{
    return env.runner.blocking([&] { return prepareInHere(std::move(folder), name, rules, env); });
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
        folder.emplace(fs::Folder::open(folderPath, env.runner));
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
    const fs::EntryInfo info = fs::entryInfo(target.m_entry, path, env.runner);
    if (info.id != look->id || !info.isRegular())
        throw Error(EAGAIN, kReplaced, path);
    target.m_kind = env.layers
                        ? env.layers->kindOf(target.m_entry, info.id.device, path, env.runner)
                        : fs::fileSystemOf(target.m_entry, path, env.runner);
    if (target.m_kind.writes == WriteKind::KernelInterface)
        throw Error(EINVAL,
                    QStringLiteral("Is a file of the kernel's %1 file system, not stored data; "
                                   "it is left alone")
                        .arg(QString::fromLatin1(target.m_kind.name)),
                    path);
    target.m_id = info.id;
    // Before anything else may open it for writing: an overlay copies a file up then.
    target.assessLayers();
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

void WipeTarget::assessLayers()
{
    BlockingRunner& runner = m_env.runner;
    const QByteArray path = this->path();
    m_reach = Reach(m_kind);
    m_dataDevice = m_id.device;
    const auto mountOf = [&](const fs::Descriptor& entry) {
        return m_env.layers ? m_env.layers->mountOf(entry, runner) : fs::mountOf(entry, runner);
    };
    std::optional<MountRecord> mount = mountOf(m_entry);
    if (m_kind.name == "overlay") {
        const std::optional<QByteArray> folder = fs::resolvedPath(m_folder, runner);
        if (!mount || !folder ||
            !(*folder == mount->mountPoint || folder->startsWith(mount->mountPoint + '/') ||
              mount->mountPoint == "/"))
            throw Error(EOPNOTSUPP,
                        QStringLiteral("Is on an overlay whose layers cannot be told apart; "
                                       "writing to it could leave the original in a lower layer: "
                                       "destroy it in the layer that holds it"),
                        path);
        // Where the file lies within each layer.
        QByteArray within = MountTable::stripRoot(mount->root);
        if (within == "/")
            within.clear();
        if (mount->mountPoint != "/")
            within += folder->mid(mount->mountPoint.size());
        else
            within += *folder == "/" ? QByteArray() : *folder;
        for (const QByteArray& lower : mount->overlayLowers()) {
            const QByteArray there = lower + within + '/' + m_name;
            if (runner.blocking([&] { return fs::lookAt(there).has_value(); }))
                throw Error(EXDEV,
                            QStringLiteral("Comes from a lower layer of an overlay, %1, which "
                                           "writing here would copy up and leave as it is; "
                                           "nothing was written: destroy it there")
                                .arg(displayPath(there)),
                            path);
        }
        const QByteArray upper = mount->overlayUpper();
        std::optional<fs::Descriptor> entry;
        std::optional<fs::Folder> upperFolder;
        try {
            if (!upper.isEmpty()) {
                upperFolder.emplace(fs::Folder::open(upper + within, runner));
                entry.emplace(upperFolder->openEntry(m_name));
            }
        } catch (const Error&) {
        }
        if (!entry)
            throw Error(
                EOPNOTSUPP,
                QStringLiteral("Is on an overlay, but in none of the layers it names; "
                               "nothing was written: destroy it in the layer that holds it"),
                path);
        // Judged where its bytes are: the upper layer's file system.
        const QByteArray upperPath = upperFolder->pathOf(m_name);
        m_kind = fs::fileSystemOf(*entry, upperPath, runner);
        m_reach = Reach(m_kind);
        m_dataDevice = fs::entryInfo(*entry, upperPath, runner).id.device;
        mount = mountOf(*entry);
    }
    if (!mount)
        return;
    applyMountOptions(m_reach, *mount);
    // sysfs and /dev only, but a blocking call all the same.
    std::optional<fs::LoopImage> loop;
    runner.runBlocking([&] {
        fs::LayerCache own;
        const auto device = (m_env.layers ? *m_env.layers : own).deviceOf(*mount);
        if (!device)
            return;
        if (device->mayKeepOldCopies)
            m_caveat = kFlash;
        loop = device->loop;
    });
    if (!loop)
        return;
    // The volume lives in a file of another volume: that file is judged by the same rules.
    Image image;
    image.path = loop->path;
    image.offset = loop->offset;
    try {
        const auto [imageFolder, imageName] = splitPath(image.path);
        const fs::Folder folder = fs::Folder::open(imageFolder, runner);
        const fs::Descriptor entry = folder.openEntry(imageName);
        image.reach = Reach(fs::fileSystemOf(entry, image.path, runner));
        if (const std::optional<MountRecord> imageMount = mountOf(entry))
            applyMountOptions(image.reach, *imageMount);
        try {
            image.file.emplace(folder.openFile(imageName, fs::File::Access::ReadOnly));
            applyFileFlags(image.reach, *image.file, runner);
        } catch (const Error&) {
            // Not this user's to read: judged by its file system alone.
        }
    } catch (const Error&) {
        image.reach = Reach();
    }
    m_image = std::move(image);
}

void WipeTarget::holdOpen(fs::File::Access access)
{
    BlockingRunner& runner = m_env.runner;
    const fs::File::Access held =
        access == fs::File::Access::ReadOnly ? access : fs::File::Access::ReadWrite;
    std::optional<fs::File> file;
    try {
        file.emplace(m_folder.openFile(m_name, held));
    } catch (const Error& error) {
        if (held == access || error.code() != EACCES)
            throw;
        file.emplace(m_folder.openFile(m_name, access));
    }
    if (file->openedAs()->id != m_id)
        throw replaced();
    const fs::File::Lease lease = file->aloneNow();
    if (lease != fs::File::Lease::Taken) {
        // Who else has it open, where this user may look.
        const QStringList holders = fs::holdersOf(m_id, runner);
        if (lease == fs::File::Lease::Busy || !holders.isEmpty())
            throw Error(EBUSY,
                        holders.isEmpty()
                            ? QStringLiteral("Is open in another program (or under another name "
                                             "in this run); nothing was written: close it first")
                            : QStringLiteral("Is open in %1; nothing was written: close it first")
                                  .arg(holders.join(QStringLiteral(", "))),
                        path());
    }
    m_leased = lease == fs::File::Lease::Taken;
    applyFileFlags(m_reach, *file, runner);
    m_held = std::move(file);
}

void WipeTarget::requireAlone() const
{
    if (m_leased && m_held && m_held->aloneNow() == fs::File::Lease::Busy)
        throw Error(EBUSY,
                    QStringLiteral("Another program opened the file while it was being "
                                   "destroyed; it is part-overwritten and still here: close that "
                                   "program, then destroy it again"),
                    path());
}

std::optional<Verdict> WipeTarget::judgeImage()
{
    if (!m_image)
        return std::nullopt;
    Image& image = *m_image;
    std::optional<std::vector<fs::Extent>> after;
    if (image.file && image.before) {
        after.emplace();
        for (const auto& [from, to] : image.ranges) {
            const auto part = fs::extentsOf(*image.file, from, to, m_env.runner);
            if (!part) {
                after.reset();
                break;
            }
            after->insert(after->end(), part->begin(), part->end());
        }
    }
    std::optional<Verdict> verdict;
    if (image.before && after)
        verdict =
            judgeByExtents(image.reach, image.before, after, std::numeric_limits<off_t>::max());
    else if (image.reach.kind.writes != WriteKind::InPlace || image.reach.journalsData)
        verdict = judgeByExtents(image.reach, std::nullopt, std::nullopt, 0);
    if (!verdict)
        return std::nullopt;
    verdict->layer = Verdict::Layer::Stacking;
    verdict->detail = QStringLiteral("the volume lives in the file %1 (a loop device's image), "
                                     "and ")
                          .arg(displayPath(image.path)) +
                      verdict->detail;
    return verdict;
}

void WipeTarget::mapImage()
{
    // Only an in-place file system's extents are offsets on its device.
    if (!m_image || !m_image->file || !m_before || m_kind.writes != WriteKind::InPlace)
        return;
    Image& image = *m_image;
    image.before.emplace();
    for (const fs::Extent& e : *m_before) {
        if (e.unwritten() || e.logical >= m_initialLength)
            continue;
        const off_t from = image.offset + e.physical;
        const off_t to = from + std::min(e.length, m_initialLength - e.logical);
        const auto part = fs::extentsOf(*image.file, from, to, m_env.runner);
        if (!part) {
            image.before.reset();
            return;
        }
        image.ranges.emplace_back(from, to);
        image.before->insert(image.before->end(), part->begin(), part->end());
    }
}

const fs::Folder& DeleteBoxes::in(const fs::Folder& folder)
{
    for (const Box& box : m_boxes) {
        if (!box.spoiled && box.parent.identity() == folder.identity())
            return box.folder;
    }
    QByteArray name;
    fs::Folder made = folder.makePrivateFolder(".ombrevault-", &name);
    m_boxes.push_back({folder.duplicate(), std::move(made), name});
    return m_boxes.back().folder;
}

void DeleteBoxes::spoil(const fs::Folder& folder)
{
    for (Box& box : m_boxes) {
        if (box.parent.identity() == folder.identity())
            box.spoiled = true;
    }
}

void DeleteBoxes::clear() noexcept
{
    for (const Box& box : m_boxes) {
        if (box.spoiled)
            continue;
        try {
            const std::optional<fs::EntryInfo> there = box.parent.lookAt(box.name);
            if (there && there->id == box.folder.identity())
                box.parent.removeFolder(box.name);
        } catch (const Error&) {
        }
    }
    m_boxes.clear();
}

void WipeTarget::removePrivately(DeleteBoxes& boxes)
{
    requireSameFile(m_name);
    const fs::Folder& box = boxes.in(m_folder);
    try {
        m_folder.moveInto(m_name, box);
    } catch (const Error&) {
        throw replaced();
    }
    // Only this user may change names in the private folder: what arrived there stays
    // what it is until it is deleted.
    const std::optional<fs::EntryInfo> arrived = box.lookAt(m_name);
    if (!arrived || arrived->id != m_id) {
        try {
            m_folder.moveBackFrom(box, m_name);
        } catch (const Error&) {
            boxes.spoil(m_folder);
            throw Error(EAGAIN,
                        kReplaced + QStringLiteral("; the file that took its name was put "
                                                   "aside in %1")
                                        .arg(displayPath(box.pathOf(m_name))),
                        path());
        }
        throw replaced();
    }
    box.remove(m_name);
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
    fs::setMode(m_entry, m_mode | S_IWUSR, path(), m_env.runner);
    m_modeToRestore = m_mode;
}

void WipeTarget::restoreMode() noexcept
{
    if (!m_modeToRestore)
        return;
    try {
        fs::setMode(m_entry, *m_modeToRestore, path(), m_env.runner);
        m_modeToRestore.reset();
    } catch (const Error&) {
        // The failure that brought us here is the one the user needs to hear about.
    }
}

void WipeTarget::remove(DeleteBoxes* shared)
{
    // The writes are over. A file deleted while open stays behind under a hidden name on
    // some file systems (FUSE's ".fuse_hidden"), which would keep the delete's private
    // folder from going: only the held entry, which opens nothing, stays.
    m_env.runner.runBlocking([this] { m_held.reset(); });
    const bool flushHere = !m_rules.volumeFlush && !m_rules.deferDelete;
    if (m_rules.scramble && m_name != kScrambledName) {
        ScrambleName(*this);
        if (flushHere)
            m_folder.sync();
    }
    if (shared) {
        removePrivately(*shared);
    } else {
        // The folder removed is freed when let go of: not on the interface thread either.
        DeleteBoxes own;
        try {
            removePrivately(own);
        } catch (const Error&) {
            m_env.runner.runBlocking([&] { own.clear(); });
            throw;
        }
        m_env.runner.runBlocking([&] { own.clear(); });
    }
    // Letting go of the last reference to a deleted file frees its blocks, which can take
    // long (a discard for each of them): not on the interface thread. A batch lets go of
    // its files together (releaseEntry()).
    if (!m_rules.volumeFlush)
        m_env.runner.runBlocking([this] { m_entry.close(); });
    // The file is gone for good only once its folder says so on the disk.
    if (flushHere)
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

WipeOutcome WipeTarget::conclude(DeleteBoxes* boxes)
{
    return m_env.runner.blocking([&] { return concludeHere(boxes); });
}

WipeOutcome WipeTarget::concludeHere(DeleteBoxes* boxes)
{
    beginConclusion();
    readBackHere(true);
    return endConclusion(boxes);
}

void WipeTarget::beginConclusion()
{
    // The appended or cut data is not known to be gone.
    if (m_changed)
        throw Error(EAGAIN, QStringLiteral("The file changed while it was being destroyed"),
                    path());
    requireAlone();
    // A name made meanwhile points at the overwritten contents too: told.
    if (m_held)
        m_links = std::max(m_links, m_held->info().links);
    m_pending.emplace(planVerdict());
}

WipeOutcome WipeTarget::endConclusion(DeleteBoxes* boxes)
{
    Verdict verdict = pendingVerdict();
    if (verdict.destroyed())
        verdict.caveat = m_caveat;
    if (m_rules.deleteAfter && !m_rules.deferDelete)
        remove(boxes);
    // Overwritten: while the delete waits, another program may open it without waiting
    // on this one's lease.
    if (m_rules.deferDelete)
        m_held.reset();
    return WipeOutcome{true, otherNames(), std::move(verdict), m_kind.has(kNamesInJournal)};
}

WipeTarget::PendingVerdict WipeTarget::planVerdict()
{
    PendingVerdict plan;
    const off_t length = m_initialLength;
    std::optional<std::vector<fs::Extent>> after;
    if (m_mapped && m_before) {
        if (m_held) {
            after = fs::extentsOf(*m_held, 0, length, m_env.runner);
        } else {
            const fs::File file = m_folder.openFile(m_name, fs::File::Access::ReadOnly);
            if (file.info().id != m_id)
                throw replaced();
            after = fs::extentsOf(file, 0, length, m_env.runner);
        }
    }
    if ((plan.known = judgeByExtents(m_reach, m_before, after, length)))
        return plan;
    // A layer below that cannot be proved decides; one whose unknown lies beyond this
    // machine (a server, memory) is told once the device agrees.
    plan.below = judgeImage();
    if (plan.below && !plan.below->destroyed()) {
        plan.known = plan.below;
        return plan;
    }
    if (!m_env.readBack) {
        plan.known = plan.below ? *plan.below : readBackLeftOutVerdict();
        return plan;
    }

    // One read of the old places: from the device itself where this user may read it
    // (the file system's own offsets, not encrypted), else the file past its cache, whose
    // blocks are the old ones.
    const bool encrypted = std::any_of(m_before->begin(), m_before->end(),
                                       [](const fs::Extent& e) { return e.encrypted(); });
    if (m_kind.writes == WriteKind::InPlace && !encrypted) {
        if (m_readers)
            plan.shared = m_readers->forVolume(m_dataDevice, m_env.runner);
        else
            plan.own = fs::DirectReader::forVolume(m_dataDevice, m_env.runner);
    }
    if (plan.shared || plan.own) {
        // The bytes of each stretch, at the device's offsets, must all be the byte the
        // wipe left there.
        for (const fs::Extent& e : *m_before) {
            if (e.unwritten())
                continue;
            for (const auto& s :
                 m_written.within(e.logical, std::min(e.logical + e.length, length)))
                plan.checks.push_back({s.from + e.physical - e.logical, s.to - s.from, s.byte});
        }
        plan.where = displayPath(plan.reader().path());
        return plan;
    }
    plan.own = fs::DirectReader::forFile(m_folder, m_name, m_id.device, m_id.inode, m_env.runner);
    if (!plan.own) {
        plan.known = notReadBackVerdict(
            QStringLiteral("neither the volume's device nor the file can be read past the cache"));
        return plan;
    }
    for (const auto& s : m_written.within(0, length))
        plan.checks.push_back({s.from, s.to - s.from, s.byte});
    return plan;
}

void WipeTarget::readBackHere(bool yielding) noexcept
{
    if (!m_pending || m_pending->known)
        return;
    PendingVerdict& plan = *m_pending;
    constexpr off_t kPiece = 64 << 20;
    try {
        plan.held = true;
        for (const PendingVerdict::Check& check : plan.checks) {
            for (off_t at = 0; at < check.length && *plan.held; at += kPiece) {
                plan.held = plan.reader().holdsHere(
                    check.at + at, std::min(kPiece, check.length - at), check.byte);
                if (yielding)
                    m_env.runner.yield();
            }
            if (!*plan.held)
                break;
        }
    } catch (const Error& error) {
        plan.failure = error;
    }
}

Verdict WipeTarget::pendingVerdict()
{
    PendingVerdict plan = std::move(*m_pending);
    m_pending.reset();
    if (plan.known)
        return *plan.known;
    if (plan.failure)
        throw *plan.failure;
    if (!*plan.held)
        return mismatchVerdict(plan.where.isEmpty() ? QStringLiteral("the file's own blocks")
                                                    : plan.where);
    if (plan.below)
        return *plan.below;
    return verifiedVerdict(plan.where.isEmpty()
                               ? QStringLiteral("the file's own blocks, past the cache")
                               : plan.where);
}

const fs::DirectReader* DeviceReaders::forVolume(dev_t device, BlockingRunner& runner)
{
    auto found = m_readers.find(device);
    if (found == m_readers.end())
        found = m_readers.emplace(device, fs::DirectReader::forVolume(device, runner)).first;
    return found->second ? &*found->second : nullptr;
}

// --- WipePass ----------------------------------------------------------------------

WipePass::WipePass(WipeTarget& target, fs::File::Access access) : m_target(target)
{
    try {
        // Opened once, leased, for every pass: each pass finds the file under its name
        // still, and writes through the one description the lease is on.
        // The first opening finds the file under its name itself.
        if (target.m_held) {
            target.requireSameFile(target.m_name);
        } else {
            if (!target.m_folder.stillAt(target.m_folderPath))
                throw target.replaced();
            target.holdOpen(access);
            m_leaseFresh = true;
        }
        m_file = &*target.m_held;
    } catch (const Error& error) {
        if (error.code() == EBUSY || error.message() == kReplaced)
            throw;
        // A link, a FIFO, another file or nothing where the file was: it was replaced or
        // removed, whatever the open said about what is there now.
        const std::optional<fs::EntryInfo> now = target.m_folder.lookAt(target.m_name);
        if (!now || now->id != target.m_id)
            throw target.replaced();
        throw;
    }
    // Just opened, flags and lease looked at since: its length is the one found then.
    const fs::EntryInfo info = m_leaseFresh ? *m_file->openedAs() : m_file->info();
    m_startLength = info.size;
    m_end = info.size;
    if (info.size != target.m_expectedLength)
        target.m_changed = true;
    // Where the old bytes lie, before the first byte is written over them.
    if (!target.m_mapped) {
        target.m_before = fs::extentsOf(*m_file, 0, target.m_initialLength, target.m_env.runner);
        target.m_mapped = true;
        m_mappedNow = target.m_before.has_value();
        target.mapImage();
    }
}

void WipePass::checkStop() const
{
    if (m_target.m_env.stop.now())
        throw Error(ECANCELED,
                    QStringLiteral("Stopped before it was destroyed; it is part-overwritten"),
                    m_target.path());
}

namespace {
// A file in more pieces than this has its holes looked up again on each pass.
constexpr size_t kMostKnownStretches = 64;

bool withoutHoles(const std::vector<fs::Extent>& extents, off_t length)
{
    off_t end = 0;
    for (const fs::Extent& e : extents) {
        if (e.logical != end || e.unwritten() || e.length <= 0)
            return false;
        end += e.length;
    }
    return end >= length;
}
} // namespace

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
            m_target.m_env.runner.yield();
        }
    };
    // A whole file's stretches of data, as the last pass found them: with the lease held
    // throughout, nobody else has had the file open to make or fill a hole since.
    std::optional<std::vector<std::pair<off_t, off_t>>>& known = m_target.m_dataMap;
    const bool whole = from == 0 && dataLimit == m_startLength;
    // Extents just mapped with no gap and nothing unwritten: the whole file is data.
    if (whole && !known && m_mappedNow && m_startLength == m_target.m_initialLength &&
        withoutHoles(*m_target.m_before, m_startLength)) {
        known = std::vector<std::pair<off_t, off_t>>{{0, m_startLength}};
        m_target.m_dataMapLength = m_startLength;
    }
    if (whole && known && m_target.m_leased && !m_target.m_changed &&
        m_target.m_dataMapLength == m_startLength) {
        for (const auto& [begin, end] : *known)
            writeRange(begin, end);
    } else {
        std::vector<std::pair<off_t, off_t>> found;
        for (off_t at = from; at < dataLimit;) {
            const auto data = m_file->nextData(at, dataLimit);
            if (!data)
                break;
            writeRange(data->first, data->second);
            if (found.size() <= kMostKnownStretches)
                found.push_back(*data);
            at = data->second;
        }
        known.reset();
        if (whole && found.size() <= kMostKnownStretches) {
            known = std::move(found);
            m_target.m_dataMapLength = m_startLength;
        }
    }
    writeRange(std::max(from, m_startLength), to);
}

void WipePass::write(const char* data, size_t length, off_t at)
{
    checkStop();
    // The pass's first write follows the opening's own checks (name, path, length, and
    // the lease when it was taken there) with nothing in between: they are not repeated.
    if (!m_leaseFresh)
        m_target.requireAlone();
    if (!m_lookFresh) {
        // The path no longer leads to the held folder: whatever happens there, the wipe
        // writes nothing more.
        if (!m_target.m_folder.stillAt(m_target.m_folderPath))
            throw m_target.replaced();
        // Cut short or grown by someone else since the last write: what was cut off, or
        // whatever the file held meanwhile, cannot be called destroyed.
        if (m_file->size() != m_end)
            m_target.m_changed = true;
    }
    m_leaseFresh = m_lookFresh = false;
    m_file->writeAt(data, length, at);
    const off_t end = at + off_t(length);
    m_end = std::max(m_end, end);
    // The disk writes a long pass while the rest is still being copied into the cache,
    // so the flush that ends the pass waits for the last stretch only.
    if (end / kWritebackStep != at / kWritebackStep) {
        m_file->startWriteback(m_writtenBack, end);
        m_writtenBack = end;
    }
    // Every write of a wipe repeats one byte.
    m_target.m_written.record(at, end, data[0]);
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
    m_file = nullptr;
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
    m_file = nullptr;
}

} // namespace ov
