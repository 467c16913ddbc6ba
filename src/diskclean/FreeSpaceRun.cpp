#include "diskclean/FreeSpaceRun.h"

#include "platform/FileWriting.h"
#include "platform/MountTable.h"
#include "platform/NameTraces.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>

namespace ov {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Failures that mean "this user may not fill more of the volume": the run's end.
bool volumeFull(int code)
{
    return code == ENOSPC || code == EDQUOT;
}

// Flushes the filler. Blocks that find no room at write-back (or past the largest file)
// mean the volume is as full as it gets, which is no failure.
void syncFiller(fs::File& file)
{
    try {
        file.sync();
    } catch (const Error& error) {
        if (!volumeFull(error.code()) && error.code() != EFBIG)
            throw;
    }
}

} // namespace

QString errorReportText(int step)
{
    return QStringLiteral("The error occured on line ") + QString::number(step) +
           QStringLiteral("please email the line number to ") + QLatin1String(kSupportAddress);
}

QString errorReport(int step, const QString& detail)
{
    const QString text = errorReportText(step);
    return detail.isEmpty() ? text : text + QLatin1Char('\n') + detail;
}

FreeSpaceRun::FreeSpaceRun(CDriveInfo& objDriveInfo, FreeSpaceView& view, BlockingRunner& runner,
                           StopChannel& stop, const Settings& settings, const OperationLog* log)
    : m_info(objDriveInfo), m_view(view), m_runner(runner), m_stop(stop), m_settings(settings),
      m_log(log)
{}

FreeSpaceRun::~FreeSpaceRun()
{
    // Only reached with files left when the owner goes away in the middle of a run
    // (it should stop the run first): do not leave the filler behind.
    if (!m_files.empty())
        removeTempFiles();
}

bool FreeSpaceRun::stillOurs(const TempFile& temp) const
{
    const std::optional<fs::EntryInfo> now = m_root->lookAt(temp.name);
    return now && now->id == temp.id;
}

QByteArray FreeSpaceRun::pathOf(const TempFile& temp) const
{
    return m_root ? m_root->pathOf(temp.name) : m_folderPath + '/' + temp.name;
}

QByteArray FreeSpaceRun::fillerBlock()
{
    static const char lineBytes[6] = {'X', '0', char(0xA7), char(0xFF), char(0x00), char(0xFF)};
    QByteArray block;
    block.reserve(kBlockSize);
    for (char byte : lineBytes) {
        block.append(QByteArray(150, byte));
        block.append("\r\n", 2);
    }
    return block;
}

QByteArray FreeSpaceRun::tempFileName(int index)
{
    return index == 0 ? QByteArray("ovtempx.dat") : "ovtempx" + QByteArray::number(index) + ".dat";
}

int FreeSpaceRun::writeStepAt(int offsetInBlock)
{
    switch (offsetInBlock / kLineSize) {
    case 0:
        return 0; // line 1
    case 1:
    case 2:
        return 1; // lines 2 and 3
    case 3:
    case 4:
        return 3; // lines 4 and 5
    default:
        return 7; // line 6
    }
}

std::int64_t FreeSpaceRun::cycleBlocks(std::int64_t freeBytes, std::int64_t unitBytes,
                                       std::int64_t fileSize)
{
    // A block-by-block run appends a block while at least the threshold is free before
    // it. What is free shrinks a unit at a time: the rest of the unit the file ends in
    // costs nothing, every further unit its size. A block of the file system's own
    // bookkeeping is allowed for, and while the end is far a 32nd of the distance for
    // whatever else it sets aside.
    const std::int64_t unit = std::max<std::int64_t>(unitBytes, 1);
    const std::int64_t distance = std::max<std::int64_t>(freeBytes - kEndThreshold, 0);
    const std::int64_t usable = distance - 4096 - distance / 32;
    const std::int64_t room = (unit - fileSize % unit) % unit;
    // The last block counted may begin anywhere up to `reach`: the free space before it
    // is still at least the threshold.
    const std::int64_t reach = room + std::max<std::int64_t>(usable, 0) / unit * unit;
    return std::min<std::int64_t>(reach / kBlockSize + 1, kCycleBytes / kBlockSize);
}

std::int64_t FreeSpaceRun::cleanedBytes() const
{
    if (m_files.empty())
        return m_cleanedAtEnd;
    std::int64_t total = 0;
    for (const TempFile& temp : m_files)
        total += temp.size;
    return total;
}

void FreeSpaceRun::report(int step, const Error& error)
{
    if (m_reported)
        return;
    m_reported = true;
    m_failure = error.message();
    m_view.showFailure(step, error);
}

void FreeSpaceRun::requestStop()
{
    m_stop.request(StopChannel::When::AfterWrite);
    m_view.setStopInFront(false);
    // The start button is in front again, but the stopped run still has to finish its
    // write and delete its file: no second run inside the first.
    if (m_running)
        m_view.setStartEnabled(false);
}

bool FreeSpaceRun::StillSpace()
{
    int step = 0;
    try {
        const std::int64_t free = m_countAvailable ? m_info.AvailableSpace() : m_info.FreeSpace();
        // A volume that stops answering once the filler is on it (unmounted, hung) reads
        // as 0 free, which is no proof that it is full.
        if (!m_info.Present() && !m_files.empty())
            throw Error(EIO, QStringLiteral("The volume no longer answers"), m_folderPath);
        m_lastFree = free;
        if (free < kEndThreshold) {
            step = 12;
            return false;
        }
        step = 13;
        return true;
    } catch (const Error& error) {
        report(step, error);
        // The run still ends through its normal steps, which delete the files.
        m_outcome = Outcome::Failed;
        return false;
    }
}

void FreeSpaceRun::openNextFile()
{
    // The volume's root is held for the whole run: every temporary file is made, looked
    // at and removed through it, whatever happens to the path meanwhile.
    if (!m_root)
        m_root.emplace(fs::Folder::open(m_folderPath, m_runner));
    TempFile temp;
    temp.name = tempFileName(int(m_files.size()));
    // Refuses a link, a folder, another user's file or a file with other names: appending
    // through any of them would fill, and then delete, a file elsewhere.
    temp.file.emplace(m_root->openAppendOwned(temp.name));
    const fs::EntryInfo info = temp.file->info();
    temp.id = info.id;
    temp.size = info.size;
    // What is counted as cleaned has to be what is on the disk: no compression.
    m_runner.runBlocking([&] { fs::refuseCompression(*temp.file); });
    m_files.push_back(std::move(temp));
    m_namesUsed = int(m_files.size());
    m_sinceFlush = 0;
}

FreeSpaceRun::Cycle FreeSpaceRun::appendCycle(std::int64_t length)
{
    fs::File& file = *m_files.back().file;
    const std::int64_t start = m_files.back().size;
    int phase = m_phase;
    Cycle cycle;
    // One blocking call for the cycle: the window is served meanwhile, and the stop
    // channel (an atomic) is looked at between two writes.
    m_runner.runBlocking([&] {
        QElapsedTimer clock;
        clock.start();
        while (cycle.written < length) {
            if (cycle.written > 0 && (m_stop.now() || clock.elapsed() >= kCycleMs))
                return;
            const std::int64_t end = start + cycle.written;
            // Far from the end, the aligned rest of the cycle goes past the cache at once;
            // the few bytes beyond it wait for the next cycle, which starts aligned then.
            const FillWriter::Written bulk =
                m_fill.append(file, end, phase, length - cycle.written,
                              [&] { return !m_stop.now() && clock.elapsed() < kCycleMs; });
            if (bulk.bytes > 0 || bulk.failure) {
                cycle.written += bulk.bytes;
                phase = int((phase + bulk.bytes) % kBlockSize);
                cycle.failure = bulk.failure;
                return;
            }
            const std::int64_t toBoundary = kWriteBytes - end % kWriteBytes;
            try {
                const size_t n =
                    file.appendSome(m_buffer.constData() + phase,
                                    size_t(std::min(length - cycle.written, toBoundary)));
                cycle.written += std::int64_t(n);
                phase = int((phase + std::int64_t(n)) % kBlockSize);
            } catch (const Error& error) {
                cycle.failure = error.code();
                return;
            }
        }
    });
    m_files.back().size += cycle.written;
    m_phase = phase;
    m_sinceFlush += cycle.written;
    return cycle;
}

void FreeSpaceRun::flushCurrent()
{
    syncFiller(*m_files.back().file);
    m_sinceFlush = 0;
}

bool FreeSpaceRun::settle()
{
    if (m_files.empty() || !m_files.back().file || m_sinceFlush == 0)
        return false;
    flushCurrent();
    return true;
}

void FreeSpaceRun::WriteData()
{
    int step = 0;
    try {
        if (m_files.empty())
            openNextFile();
        // One write's worth of filler from any byte of a block on.
        if (m_buffer.isEmpty())
            m_buffer = fillerBlock().repeated(int(kWriteBytes / kBlockSize) + 2);
        std::int64_t length =
            cycleBlocks(m_lastFree, m_info.allocationUnit(), m_files.back().size) * kBlockSize;
        while (length > 0) {
            const Cycle cycle = appendCycle(length);
            length -= cycle.written;
            if (!cycle.failure)
                return; // all of it, a stop, or the cycle's time is up
            if (volumeFull(cycle.failure)) {
                m_writeState = WriteState::Full;
                return;
            }
            if (cycle.failure == EFBIG && m_files.back().size > 0) {
                // The file system's largest file: on in the next file, from the start of the
                // block that did not fit, so that file too holds whole blocks.
                step = 7;
                flushCurrent();
                m_files.back().file->close();
                m_files.back().file.reset();
                length += m_phase;
                m_phase = 0;
                step = 0;
                openNextFile();
                continue;
            }
            step = writeStepAt(m_phase);
            throw Error::fromErrno(cycle.failure, pathOf(m_files.back()));
        }
    } catch (const Error& error) {
        report(step, error);
        m_writeState = WriteState::Failed;
    }
}

void FreeSpaceRun::UpdateScreen()
{
    bool anyFile = false;
    for (const TempFile& temp : m_files)
        anyFile = anyFile || (m_root && m_root->lookAt(temp.name).has_value());
    if (anyFile)
        m_view.setCleanedText(CDriveInfo::FormatSize(cleanedBytes(), false) + kCrLf +
                              QStringLiteral("Cleaned"));
    m_runner.yield();
    m_view.setLeftText(CDriveInfo::FormatSize(
                           m_countAvailable ? m_info.AvailableSpace() : m_info.FreeSpace(), true) +
                       kCrLf + QStringLiteral("Left to clean"));
}

void FreeSpaceRun::refreshScreenIfDue(bool force)
{
    // About ten refreshes a second; the run's last figures are always shown.
    if (force ? m_screenDue : (!m_screenClock.isValid() || m_screenClock.elapsed() >= 100)) {
        UpdateScreen();
        m_screenClock.start();
        m_screenDue = false;
    } else if (!force) {
        m_screenDue = true;
    }
}

void FreeSpaceRun::flush(TempFile& temp, const std::function<void(const Error&)>& keep)
{
    try {
        // A file closed at the largest file size was flushed then.
        if (temp.file)
            syncFiller(*temp.file);
    } catch (const Error& error) {
        keep(error);
    }
}

void FreeSpaceRun::flushAndRemove(TempFile& temp, const std::function<void(const Error&)>& keep)
{
    // The filler has to reach the disk before the file goes, or the file system drops it
    // and nothing was overwritten. So does a file a killed run left, even when nothing
    // was added to it: its last writes may never have reached the disk.
    flush(temp, keep);
    try {
        // Only the file this run wrote goes: another one put in its place stays.
        if (stillOurs(temp)) {
            try {
                m_root->remove(temp.name);
            } catch (const Error& error) {
                // What stays takes the volume's free space: named with its size.
                std::int64_t size = temp.size;
                try {
                    if (temp.file)
                        size = temp.file->info().size;
                } catch (const Error&) {
                }
                keep(Error(error.code(),
                           error.message() +
                               QStringLiteral("; the filler could not be deleted and takes %1 "
                                              "of the volume: delete it")
                                   .arg(CDriveInfo::FormatSize(size, true)),
                           pathOf(temp)));
            }
        } else if (temp.file ? temp.file->info().links > 0
                             : m_root->lookAt(temp.name).has_value()) {
            keep(Error(EEXIST,
                       QStringLiteral("Was moved or replaced while the run wrote to it; what is "
                                      "there now is left alone, and the filler was not deleted"),
                       pathOf(temp)));
        }
    } catch (const Error& error) {
        keep(error);
    }
    try {
        if (temp.file)
            temp.file->close();
    } catch (const Error& error) {
        keep(error);
    }
    temp.file.reset();
}

void FreeSpaceRun::removeLeftovers(const std::function<void(const Error&)>& keep)
{
    // Files a killed run left behind beyond this run's go too (this run's own names are
    // not looked at again: another file may be there now). Links, other users' files and
    // files with other names are left alone.
    for (int index = m_namesUsed; m_root; ++index) {
        try {
            TempFile temp;
            temp.name = tempFileName(index);
            const std::optional<fs::EntryInfo> look = m_root->lookAt(temp.name);
            if (!look || !look->isRegular() || !look->ownedByThisUser() || look->links != 1)
                return;
            temp.file.emplace(m_root->openAppendOwned(temp.name));
            temp.id = temp.file->info().id;
            flushAndRemove(temp, keep);
        } catch (const Error& error) {
            keep(error);
            return;
        }
    }
}

std::optional<Error> FreeSpaceRun::removeTempFiles()
{
    std::optional<Error> firstFailure;
    const auto keep = [&](const Error& error) {
        if (!firstFailure)
            firstFailure = error;
    };
    // A volume whose root cannot be opened holds nothing this run could remove.
    if (!m_root) {
        try {
            m_root.emplace(fs::Folder::open(m_folderPath, m_runner));
        } catch (const Error&) {
            return firstFailure;
        }
    }
    if (!m_files.empty()) {
        m_cleanedAtEnd = cleanedBytes();
        // What is left free once the filler is on the disk: the file system may count
        // space for delayed writes only when it allocates it.
        for (TempFile& temp : m_files)
            flush(temp, keep);
        try {
            const std::int64_t free =
                m_countAvailable ? m_info.AvailableSpace() : m_info.FreeSpace();
            if (m_info.Present())
                m_lastFree = free;
        } catch (const Error&) {
            // The figure of the last cycle stays.
        }
    }
    for (TempFile& temp : m_files)
        flushAndRemove(temp, keep);
    m_files.clear();
    removeLeftovers(keep);
    // The names are gone for good only once the folder says so on the disk.
    try {
        m_root->sync();
    } catch (const Error& error) {
        keep(error);
    }
    return firstFailure;
}

QStringList FreeSpaceRun::unreachedLines()
{
    QStringList lines;
    if (m_inMemory) {
        lines << QStringLiteral("Not filled: ") + displayPath(m_folderPath) +
                     QStringLiteral(" lives in memory, where nothing keeps what was deleted "
                                    "once its memory is used again; filling it would only take "
                                    "the machine's memory.");
        return lines;
    }
    lines << fileSystemReserves();
    if (m_names)
        lines << m_names->lines();
    if (m_outcome == Outcome::Stopped && m_names && m_namesPercent >= 0)
        lines << QStringLiteral("Names of deleted files may remain: the step that writes over "
                                "them was stopped.");
    const std::int64_t reserved = m_info.reservedSpace();
    if (reserved > 0)
        lines << QStringLiteral("Not reached: ") + CDriveInfo::FormatSize(reserved, true) +
                     QStringLiteral(" that the volume keeps back from users other than the "
                                    "administrator; deleted data there survives. Cleaning as "
                                    "administrator (root) reaches most of it.");
    const std::vector<QByteArray> snapshots = m_info.snapshots();
    if (!snapshots.empty()) {
        QStringList names;
        for (const QByteArray& snapshot : snapshots)
            names << displayPath(snapshot);
        const bool one = names.size() == 1;
        lines << (one ? QStringLiteral("Not reached: files deleted since the snapshot ")
                      : QStringLiteral("Not reached: files deleted since the snapshots ")) +
                     names.join(QStringLiteral(", ")) +
                     (one ? QStringLiteral(" was taken, which keeps them. Delete the snapshot")
                          : QStringLiteral(" were taken, which keep them. Delete the snapshots")) +
                     QStringLiteral(", then clean the free space again.");
    }
    return lines;
}

void FreeSpaceRun::end(Outcome outcome)
{
    if (m_outcome == Outcome::None)
        m_outcome = outcome;
    m_buffer = QByteArray();
    m_fill.release();
    m_unreached = m_outcome == Outcome::Failed ? QStringList() : unreachedLines();
    m_view.showUnreached(m_unreached);
    // The root is held for one run only: a held folder would keep the volume busy.
    m_root.reset();
    m_lock.reset();
    m_namesPercent = -1;
    m_stop.reset();
    m_running = false;
    m_view.setStartEnabled(true);
    if (onFinished)
        onFinished();
}

void FreeSpaceRun::run()
{
    if (m_running)
        return;
    m_running = true;
    // A stop asked for before the first step (while the run prepares) counts too: the
    // channel is cleared when a run ends, not when one starts.
    m_reported = false;
    m_failure.clear();
    m_outcome = Outcome::None;
    m_writeState = WriteState::Ok;
    m_files.clear();
    m_namesUsed = 0;
    m_phase = 0;
    m_sinceFlush = 0;
    m_lastFree = 0;
    m_cleanedAtEnd = 0;
    m_screenClock.invalidate();
    m_screenDue = false;
    m_root.reset();
    m_unreached.clear();
    m_folderPath = designator();
    m_countAvailable = false;
    m_inMemory = false;
    m_namesPercent = -1;
    m_names.reset();

    int step = 0;
    try {
        step = 10;
        m_view.setStopInFront(true);
        step = 14;
        m_view.setStatusText(QStringLiteral("Preparing..."));
        step = 15;
        m_view.setCleanedText(QStringLiteral("0 Cleaned"));
        m_view.showUnreached({});
        step = 16;
        m_view.setLeftText(QStringLiteral("0 Left to clean"));
        step = 20;
        m_view.setDriveListEnabled(false);
        step = 21;
        m_view.setStatusText(QStringLiteral("Preparation Done !"));
        step = 30;
        m_runner.yield();
        step = 31;
        m_view.setStatusText(QStringLiteral("Working..."));
        step = 33;
        // A volume that is not there: nothing to choose, and the cycles find no space.
        m_folderPath = designator();
        if (fs::isFolder(m_folderPath)) {
            m_folderPath = chooseFolder(m_folderPath);
            m_root.emplace(fs::Folder::open(m_folderPath, m_runner));
        }
        // Nothing persistent keeps what was deleted in memory: filling it only takes the
        // machine's memory.
        if (m_root && m_runner.blocking([&] { return names::fileSystemOf(*m_root); }).writes ==
                          WriteKind::MemoryOnly) {
            m_inMemory = true;
            m_view.setDriveListEnabled(true);
            m_view.setStatusText(QStringLiteral("Done"));
            m_view.setStopInFront(false);
            end(Outcome::Finished);
            return;
        }
        // One run at a time on a volume: a second one would share the free space (and, in
        // one folder, the filler) and count it as its own.
        if (m_root)
            m_lock.emplace(m_runner.blocking(
                [&] { return fillplace::RunLock::take(m_folderPath, m_info.locksWholeVolume()); }));
        m_countAvailable = m_info.reservedSpace() > 0;
        m_names.emplace(m_runner, m_stop);
        m_names->onProgress = [this](int percent) {
            m_namesPercent = percent;
            m_view.setStatusText(QStringLiteral("Clearing names... ") + QString::number(percent) +
                                 QLatin1Char('%'));
            m_runner.yield();
        };
        step = 40;
        if (m_settings.LogOperations && m_log)
            m_runner.runBlocking(
                [&] { m_log->AppendLog("Cleaning Free Space on drive " + m_folderPath); });
        for (;;) {
            step = 42;
            if (!StillSpace()) {
                // Less than the threshold free; what the file system set aside for the
                // writes may come back once they are on the disk.
                if (m_outcome == Outcome::None && settle())
                    continue;
                break;
            }
            step = 43;
            if (m_stop.now()) {
                step = 53;
                m_runner.yield();
                step = 51;
                refreshScreenIfDue(true);
                step = 55;
                if (std::optional<Error> failure = removeTempFiles())
                    throw *failure;
                step = 60;
                m_view.setStatusText(QStringLiteral("Done"));
                step = 61;
                m_view.setDriveListEnabled(true);
                step = 66;
                m_view.setStopInFront(false);
                end(Outcome::Stopped);
                return;
            }
            step = 44;
            WriteData();
            if (m_writeState == WriteState::Failed) {
                // WriteData has shown the report.
                endAfterFailure();
                return;
            }
            step = 50;
            m_runner.yield();
            step = 51;
            refreshScreenIfDue(false);
            // Refused for want of space: the file system settled its own accounts before
            // it said so.
            if (m_writeState == WriteState::Full)
                break;
            step = 70;
            m_runner.yield();
        }
        step = 51;
        refreshScreenIfDue(true);
        // The volume is full now: btrfs's metadata can only be filled in what it has.
        step = 74;
        // Not on a volume that stopped answering, nor where names are not kept.
        const bool names = m_outcome == Outcome::None && m_info.keepsNames() && m_info.Present();
        bool namesDone = !names || cleanNames(NameCleaner::Stage::VolumeFull);
        step = 80;
        if (std::optional<Error> failure = removeTempFiles())
            throw *failure;
        step = 82;
        // The filler's space is free again only once the deletion is on the disk (btrfs
        // frees its blocks with the next commit).
        if (names && m_root)
            m_root->syncVolume();
        if (names && namesDone)
            namesDone = cleanNames(NameCleaner::Stage::VolumeFreed);
        if (m_outcome == Outcome::None && !namesDone)
            m_outcome = Outcome::Stopped;
        // Only now: the drive stays the run's until its last step.
        step = 72;
        m_view.setDriveListEnabled(true);
        step = 81;
        // A failure StillSpace reported ends here too, but is no "Done".
        m_view.setStatusText(m_outcome == Outcome::None || m_outcome == Outcome::Stopped
                                 ? QStringLiteral("Done")
                                 : QStringLiteral("Failed: ") + m_failure);
        step = 90;
        m_view.setStopInFront(false);
        end(Outcome::Finished);
    } catch (const Error& error) {
        report(step, error);
        endAfterFailure();
    }
}

QStringList FreeSpaceRun::leftoverNotices(const QByteArray& folder, const QByteArray& mountPoint)
{
    std::vector<QByteArray> places;
    for (const QByteArray& place : {folder, mountPoint, fillplace::writableFolderOn(mountPoint)}) {
        if (!place.isEmpty() && fs::isFolder(place) && fillplace::onVolume(place, mountPoint) &&
            std::find(places.begin(), places.end(), place) == places.end())
            places.push_back(place);
    }
    QStringList lines;
    for (const QByteArray& place : places) {
        for (const fillplace::Leftover& leftover : fillplace::leftoverFillers(place))
            lines << QStringLiteral("Left by a run that never ended: ") +
                         displayPath(leftover.path) + QStringLiteral(" (") +
                         CDriveInfo::FormatSize(leftover.size, true) +
                         QStringLiteral("). Clean the free space of this volume again: the run "
                                        "writes the rest and removes it.");
    }
    return lines;
}

QStringList FreeSpaceRun::fileSystemReserves()
{
    QStringList lines;
    for (const KeptBack& kept : m_info.keptBackSpace()) {
        const QString size =
            (kept.estimated ? QStringLiteral("about ") : QString()) +
            CDriveInfo::FormatSize(std::int64_t(std::min<std::uint64_t>(
                                       kept.bytes, std::uint64_t(CDriveInfo::kMaxByteCount))),
                                   true);
        switch (kept.kind) {
        case KeptBack::Kind::BlockReserve:
            lines << QStringLiteral("Not reached: ") + size +
                         QStringLiteral(" that xfs keeps back for itself (its block reserve), "
                                        "which no file may take; deleted data there survives.");
            break;
        case KeptBack::Kind::ReservedClusters:
            lines << QStringLiteral("Not reached: ") + size +
                         QStringLiteral(" that ext4 keeps back for its own bookkeeping (its "
                                        "reserved clusters), which no writer gets, not even the "
                                        "administrator; deleted data there survives, mostly that "
                                        "of small files.");
            break;
        case KeptBack::Kind::MetadataChunks:
            lines << QStringLiteral("Not reached by the filler: ") + size +
                         QStringLiteral(" of metadata chunks, which keep names and small files "
                                        "whole; only the names step writes there.");
            break;
        }
    }
    return lines;
}

QByteArray FreeSpaceRun::chooseFolder(const QByteArray& designator)
{
    if (fs::isFolder(designator) && folderWritable(designator))
        return designator;
    // A volume that takes no writes at all: the plain reason.
    if (fs::writeAccessFailure(designator) == EROFS)
        throwError(EROFS, designator);
    const QByteArray mountPoint = MountTable::stripRoot(m_info.Drive());
    const QByteArray folder = fillplace::writableFolderOn(mountPoint);
    if (folder.isEmpty())
        throw Error(EACCES,
                    QStringLiteral("Neither this folder nor a folder of yours on its volume may "
                                   "be written by this user, so no filler can go there"),
                    designator);
    return folder;
}

bool FreeSpaceRun::cleanNames(NameCleaner::Stage stage)
{
    if (m_stop.now())
        return false;
    const bool done = m_names->run(m_folderPath, stage);
    if (m_namesPercent >= 0)
        m_view.setStatusText(QStringLiteral("Working..."));
    return done;
}

void FreeSpaceRun::endAfterFailure()
{
    // Unlike a bare error trap, the run does not leave its filler on the volume nor the
    // panel locked: the files go, the drive list and the start button come back, and the
    // status says what failed. One report per run: a further failure while deleting is
    // not shown again.
    removeTempFiles();
    m_view.setDriveListEnabled(true);
    m_view.setStopInFront(false);
    m_view.setStatusText(QStringLiteral("Failed: ") + m_failure);
    end(Outcome::Failed);
}

} // namespace ov
