#include "diskclean/FreeSpaceRun.h"

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

FreeSpaceRun::FreeSpaceRun(CDriveInfo& objDriveInfo, FreeSpaceView& view, EngineHost& host,
                           const Settings& settings, const OperationLog* log)
    : m_info(objDriveInfo), m_view(view), m_host(host), m_settings(settings), m_log(log)
{}

FreeSpaceRun::~FreeSpaceRun()
{
    // Only reached with files left when the owner goes away in the middle of a run
    // (it should stop the run first): do not leave the filler behind.
    for (TempFile& temp : m_files) {
        temp.file.reset();
        try {
            if (stillOurs(temp))
                m_root->remove(temp.name);
        } catch (const Error&) {
        }
    }
}

bool FreeSpaceRun::stillOurs(const TempFile& temp) const
{
    const std::optional<fs::EntryInfo> now = m_root->lookAt(temp.name);
    return now && now->id == temp.id;
}

QByteArray FreeSpaceRun::pathOf(const TempFile& temp) const
{
    return m_root->pathOf(temp.name);
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

int FreeSpaceRun::batchBlocks(std::int64_t freeBytes)
{
    const std::int64_t distance = freeBytes - kEndThreshold;
    if (distance < kNearZone)
        return 1;
    // Half the distance: whatever the file system spends on allocation and metadata,
    // every block of the batch is one that a block-by-block run would still have written.
    const std::int64_t blocks = distance / 2 / kBlockSize;
    return int(std::min<std::int64_t>(std::max<std::int64_t>(blocks, 1), kMaxBatchBlocks));
}

std::int64_t FreeSpaceRun::cleanedBytes() const
{
    if (m_files.empty())
        return m_cleanedAtEnd;
    std::int64_t total = 0;
    for (const TempFile& temp : m_files) {
        if (temp.file) {
            try {
                total += temp.file->size();
            } catch (const Error&) {
            }
        } else {
            total += temp.closedSize;
        }
    }
    return total;
}

void FreeSpaceRun::report(int step, const Error& error)
{
    if (m_reported)
        return;
    m_reported = true;
    m_view.showErrorReport(step, errorReport(step, error.text()));
}

void FreeSpaceRun::cmdStop_Click()
{
    m_driveWorking = false;
    m_view.setStopInFront(false);
    // The start button is in front again, but the stopped run still has to finish its
    // cycle and delete its file: no second run inside the first.
    if (m_running)
        m_view.setStartEnabled(false);
}

bool FreeSpaceRun::StillSpace()
{
    int step = 0;
    try {
        const std::int64_t free = m_info.FreeSpace();
        // A volume that stops answering once the filler is on it (unmounted, hung) reads
        // as 0 free, which is no proof that it is full.
        if (!m_info.Present() && anyWritten())
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

bool FreeSpaceRun::anyWritten() const
{
    return std::any_of(m_files.begin(), m_files.end(),
                       [](const TempFile& temp) { return temp.written; });
}

void FreeSpaceRun::openNextFile()
{
    // The volume's root is held for the whole run: every temporary file is made, looked
    // at and removed through it, whatever happens to the path meanwhile.
    if (!m_root)
        m_root.emplace(fs::Folder::open(m_folderPath, m_host));
    TempFile temp;
    temp.name = tempFileName(int(m_files.size()));
    // Refuses a link, a folder, another user's file or a file with other names: appending
    // through any of them would fill, and then delete, a file elsewhere.
    temp.file.emplace(m_root->openAppendOwned(temp.name));
    const fs::EntryInfo info = temp.file->info();
    temp.id = info.id;
    m_writebackFrom = info.size;
    m_sinceSync = 0;
    m_files.push_back(std::move(temp));
}

void FreeSpaceRun::syncCurrent()
{
    syncFiller(*m_files.back().file);
    m_sinceSync = 0;
}

void FreeSpaceRun::startWriteback()
{
    // Starts the disk writing what was appended since the last time, without waiting for
    // it: dirty memory stays small and the disk stays busy while the next blocks are
    // written. The flush at the end waits for all of it and reports what failed.
    fs::File& file = *m_files.back().file;
    const std::int64_t to = file.size();
    file.startWriteback(m_writebackFrom, to);
    m_writebackFrom = to;
    m_sinceSync = 0;
}

void FreeSpaceRun::appendBlocks(std::int64_t length, int* step)
{
    std::int64_t offset = 0;
    while (offset < length) {
        TempFile& temp = m_files.back();
        size_t written = 0;
        int failure = 0;
        try {
            written = temp.file->appendSome(m_buffer.constData() + offset, size_t(length - offset));
        } catch (const Error& error) {
            failure = error.code();
        }
        if (!failure) {
            offset += written;
            m_sinceSync += written;
            temp.written = true;
            continue;
        }
        if (volumeFull(failure)) {
            m_writeState = WriteState::Full;
            return;
        }
        if (failure == EFBIG && temp.file->size() > 0) {
            // The file system's largest file: go on in the next file, from the start of
            // the block that did not fit, so that file too holds whole blocks.
            *step = 7;
            syncCurrent();
            temp.closedSize = temp.file->size();
            temp.file->close();
            temp.file.reset();
            *step = 0;
            openNextFile();
            offset -= offset % kBlockSize;
            continue;
        }
        *step = writeStepAt(int(offset % kBlockSize));
        throwError(failure, pathOf(temp));
    }
}

void FreeSpaceRun::WriteData()
{
    int step = 0;
    try {
        if (m_files.empty())
            openNextFile();
        const int blocks = batchBlocks(m_lastFree);
        const std::int64_t length = std::int64_t(blocks) * kBlockSize;
        if (m_buffer.size() < length) {
            // Some megabytes to fill: off the interface thread like the writes.
            QByteArray buffer;
            m_host.runBlocking([&] { buffer = fillerBlock().repeated(blocks); });
            m_buffer = std::move(buffer);
        }
        appendBlocks(length, &step);
        if (m_writeState == WriteState::Ok && m_sinceSync >= kSyncInterval)
            startWriteback();
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
    m_host.yield();
    m_view.setLeftText(CDriveInfo::FormatSize(m_info.FreeSpace(), true) + kCrLf +
                       QStringLiteral("Left to clean"));
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

std::optional<Error> FreeSpaceRun::removeTempFiles()
{
    std::optional<Error> firstFailure;
    auto keep = [&](const Error& error) {
        if (!firstFailure)
            firstFailure = error;
    };
    auto remove = [&](const QByteArray& name) {
        try {
            // Freeing a large file's blocks takes the file system a while: off the
            // interface thread like every call on the folder.
            m_root->remove(name);
            return true;
        } catch (const Error& error) {
            keep(error);
            return false;
        }
    };
    for (TempFile& temp : m_files) {
        if (temp.file) {
            try {
                // The filler has to reach the disk before the file goes, or delayed
                // allocation drops it and nothing was overwritten.
                if (temp.written)
                    syncFiller(*temp.file);
            } catch (const Error& error) {
                keep(error);
            }
            try {
                temp.closedSize = temp.file->size();
                temp.file->close();
            } catch (const Error& error) {
                keep(error);
            }
            temp.file.reset();
        }
        try {
            if (stillOurs(temp))
                remove(temp.name);
        } catch (const Error& error) {
            keep(error);
        }
    }
    // A file left by a run that was killed, never reached by this one, goes too; links,
    // other users' files and files with other names are left alone. A volume whose root
    // cannot be opened holds nothing this run could remove.
    if (!m_root) {
        try {
            m_root.emplace(fs::Folder::open(m_folderPath, m_host));
        } catch (const Error&) {
        }
    }
    for (int index = int(m_files.size()); m_root; ++index) {
        try {
            const QByteArray name = tempFileName(index);
            const std::optional<fs::EntryInfo> look = m_root->lookAt(name);
            if (!look || !look->isRegular() || !look->ownedByThisUser() || look->links != 1 ||
                !remove(name))
                break;
        } catch (const Error& error) {
            keep(error);
            break;
        }
    }
    // The names are gone for good only once the folder says so on the disk.
    try {
        if (m_root)
            m_root->sync();
    } catch (const Error& error) {
        keep(error);
    }
    m_cleanedAtEnd = 0;
    for (const TempFile& temp : m_files)
        m_cleanedAtEnd += temp.closedSize;
    m_files.clear();
    return firstFailure;
}

void FreeSpaceRun::end(Outcome outcome)
{
    if (m_outcome == Outcome::None)
        m_outcome = outcome;
    m_buffer = QByteArray();
    // The root is held for one run only: a held folder would keep the volume busy.
    m_root.reset();
    m_driveWorking = false;
    m_running = false;
    m_view.setStartEnabled(true);
    if (onFinished)
        onFinished();
}

void FreeSpaceRun::Command1_Click()
{
    if (m_running)
        return;
    m_running = true;
    // Before the first step: a Stop clicked while the run still prepares counts too.
    m_driveWorking = true;
    m_reported = false;
    m_outcome = Outcome::None;
    m_writeState = WriteState::Ok;
    m_files.clear();
    m_sinceSync = 0;
    m_lastFree = 0;
    m_cleanedAtEnd = 0;
    m_screenClock.invalidate();
    m_screenDue = false;
    m_root.reset();
    m_folderPath = designator();

    int step = 0;
    try {
        step = 10;
        m_view.setStopInFront(true);
        step = 14;
        m_view.setStatusText(QStringLiteral("Preparing..."));
        step = 15;
        m_view.setCleanedText(QStringLiteral("0 Cleaned"));
        step = 16;
        m_view.setLeftText(QStringLiteral("0 Left to clean"));
        step = 20;
        m_view.setDriveListEnabled(false);
        step = 21;
        m_view.setStatusText(QStringLiteral("Preparation Done !"));
        step = 30;
        m_host.yield();
        step = 31;
        m_view.setStatusText(QStringLiteral("Working..."));
        step = 33;
        m_folderPath = designator();
        step = 40;
        if (m_settings.LogOperations && m_log)
            m_host.runBlocking(
                [&] { m_log->AppendLog("Cleaning Free Space on drive " + m_folderPath); });
        for (;;) {
            step = 42;
            if (!StillSpace())
                break;
            step = 43;
            if (!m_driveWorking) {
                step = 53;
                m_host.yield();
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
            m_host.yield();
            step = 51;
            refreshScreenIfDue(false);
            if (m_writeState == WriteState::Full)
                break;
            step = 70;
            m_host.yield();
        }
        step = 51;
        refreshScreenIfDue(true);
        step = 72;
        m_view.setDriveListEnabled(true);
        step = 80;
        if (std::optional<Error> failure = removeTempFiles())
            throw *failure;
        step = 81;
        // A failure StillSpace reported ends here too, but is no "Done".
        if (m_outcome == Outcome::None)
            m_view.setStatusText(QStringLiteral("Done"));
        step = 90;
        m_view.setStopInFront(false);
        end(Outcome::Finished);
    } catch (const Error& error) {
        report(step, error);
        endAfterFailure();
    }
}

void FreeSpaceRun::endAfterFailure()
{
    // Unlike a bare error trap, the run does not leave its filler on the volume nor the
    // panel locked: the files go, the drive list and the start button come back. One
    // report per run: a further failure while deleting is not shown again.
    removeTempFiles();
    m_view.setDriveListEnabled(true);
    m_view.setStopInFront(false);
    end(Outcome::Failed);
}

} // namespace ov
