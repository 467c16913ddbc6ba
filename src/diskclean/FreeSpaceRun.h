#pragma once

#include "diskclean/FillWriter.h"
#include "diskclean/NameCleaner.h"
#include "drive/DriveInfo.h"
#include "platform/BlockingRunner.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/FillPlace.h"
#include "platform/StopChannel.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace ov {

inline constexpr char kSupportAddress[] = "support@tallowbrookworks.example";

// "The error occured on line " N "please email the line number to " address.
QString errorReportText(int step);
// The whole report: that text, then on a line of its own what failed (when known).
QString errorReport(int step, const QString& detail);

// The controls a free-space run drives: the panel's, or the command line's stand-ins.
class FreeSpaceView
{
public:
    virtual ~FreeSpaceView() = default;
    // The mount point of the drive list's current entry.
    virtual QByteArray driveDesignator() const = 0;
    virtual void setStatusText(const QString& text) = 0;
    // The two progress labels; a size and a word, joined by CR LF.
    virtual void setCleanedText(const QString& text) = 0;
    virtual void setLeftText(const QString& text) = 0;
    // Stop button in front of the start button (true) or behind it (false).
    virtual void setStopInFront(bool stopInFront) = 0;
    virtual void setStartEnabled(bool enabled) = 0;
    virtual void setDriveListEnabled(bool enabled) = 0;
    // The error report: the message box text, then on a line of its own what failed.
    virtual void showErrorReport(int step, const QString& text) = 0;
    // A failure of the run: the window shows the error report; the command line the
    // plain reason.
    virtual void showFailure(int step, const Error& error)
    {
        showErrorReport(step, errorReport(step, error.text()));
    }
    // What the run could not reach, a line each; empty when a run starts and when it
    // reached everything.
    virtual void showUnreached(const QStringList& lines) = 0;
};

// Fills the free space of one volume with a temporary file of filler blocks until less
// than 10,000 bytes are free or a stop is asked for, then flushes and deletes the file.
// The run lives on the calling (interface) thread; its writes and flushes go through the
// blocking runner, which keeps the window serving its events meanwhile.
//
// Each cycle looks at the free space and the stop channel, then appends as many whole
// blocks as a block-by-block run would certainly still append at that free space, in
// writes of kWriteBlocks blocks; between two writes it looks at the stop channel again,
// so a stop ends the run after the write in hand.
class FreeSpaceRun
{
public:
    static constexpr std::int64_t kEndThreshold = 10000;
    static constexpr int kBlockSize = 912;
    static constexpr int kLineSize = 152;
    // One write ends at the next multiple of 1 MiB in the file, as dd's writes of bs=1M
    // do. Measured on ext4 and xfs: as fast as writes of 2 MiB and of 228 KiB, twice as
    // fast as writes of 8 MiB, which no longer fit the processor's cache. And the file
    // systems then place the filler as they placed files written the same common way: a
    // write pattern of its own left up to 2.5 MiB of such a file on ext4 untouched.
    static constexpr std::int64_t kWriteBytes = 1 << 20;
    // One cycle: at most this much, and no longer than about kCycleMs, so that the
    // figures on screen follow the run.
    static constexpr std::int64_t kCycleBytes = 32 * kWriteBytes / kBlockSize * kBlockSize;
    static constexpr int kCycleMs = 100;

    enum class Outcome
    {
        None,     // no run yet
        Finished, // the volume is full (or was from the start)
        Stopped,  // a stop was asked for
        Failed,   // a failure was reported
    };

    // `stop` is where stops are asked for: the panel's Stop, the window's close, or the
    // termination signals of the command line.
    FreeSpaceRun(CDriveInfo& objDriveInfo, FreeSpaceView& view, BlockingRunner& runner,
                 StopChannel& stop, const Settings& settings, const OperationLog* log);
    ~FreeSpaceRun();
    FreeSpaceRun(const FreeSpaceRun&) = delete;
    FreeSpaceRun& operator=(const FreeSpaceRun&) = delete;

    // The run; returns when it has ended. Does nothing while a run is in progress.
    void run();
    // Asks the run to stop after the write in hand.
    void requestStop();
    // True from the start of a run until a stop is asked for.
    bool DriveWorking() const { return m_running && !m_stop.requested(); }

    // One cycle's pieces.
    bool StillSpace();
    void WriteData();
    void UpdateScreen();

    bool isRunning() const { return m_running; }
    Outcome lastOutcome() const { return m_outcome; }
    // Bytes in the temporary files of the current run, or of the last one once it ended
    // (also when they could not be deleted).
    std::int64_t cleanedBytes() const;
    // The total free space the run saw last while its files were there.
    std::int64_t lastFreeBytes() const { return m_lastFree; }
    // What the last run could not reach (the view was shown the same lines).
    const QStringList& unreached() const { return m_unreached; }
    // The writes past the page cache, while the end is far.
    FillWriter& fillWriter() { return m_fill; }
    // The folder the filler goes in: the one named when this user may write there, else
    // one of the user's own on the same volume.
    const QByteArray& fillerFolder() const { return m_folderPath; }
    // How far the step that writes over the names of deleted files is (0 to 100), or -1
    // outside it.
    int namesPercent() const { return m_namesPercent; }
    // Called once a run has ended, its files deleted.
    std::function<void()> onFinished;

    // The filler files a run that never ended left where a run on this volume would look
    // (`folder` when given, the top folder, the user's folder on it), each named with its
    // size and the advice to run again; a line each.
    static QStringList leftoverNotices(const QByteArray& folder, const QByteArray& mountPoint);
    // One filler block: six lines of 150 equal bytes and CR LF.
    static QByteArray fillerBlock();
    // "ovtempx.dat", then "ovtempx1.dat", "ovtempx2.dat", ... beside it.
    static QByteArray tempFileName(int index);
    // The step number of a failing write, by the byte of the block it failed at.
    static int writeStepAt(int offsetInBlock);
    // How many blocks one cycle appends to a file of `fileSize` bytes with `freeBytes`
    // free on a volume that allocates in units of `unitBytes`: those a block-by-block run
    // would append too.
    static std::int64_t cycleBlocks(std::int64_t freeBytes, std::int64_t unitBytes,
                                    std::int64_t fileSize);

private:
    struct TempFile
    {
        QByteArray name; // in the volume's root
        std::optional<fs::File> file;
        fs::Identity id;
        std::int64_t size = 0; // its length, kept as the run appends
    };
    enum class WriteState
    {
        Ok,
        Full,
        Failed
    };
    struct Cycle
    {
        std::int64_t written = 0;
        int failure = 0; // the errno of the write that failed, or 0
    };

    QByteArray designator() const { return m_view.driveDesignator(); }
    // The name still leads to the file this run wrote (no other file swapped in).
    bool stillOurs(const TempFile& temp) const;
    QByteArray pathOf(const TempFile& temp) const;
    void report(int step, const Error& error);
    void openNextFile();
    // Appends up to `length` bytes of filler to the current file in one blocking call.
    Cycle appendCycle(std::int64_t length);
    void flushCurrent();
    // Less than the threshold free: flushes what was written since the last flush, so
    // that space the file system set aside for it (xfs: for the blocks to come) is free
    // again. False when there was nothing to flush.
    bool settle();
    // Flushes, closes and deletes every temporary file, also those a killed run left
    // behind; the first failure, after trying them all.
    std::optional<Error> removeTempFiles();
    void flush(TempFile& temp, const std::function<void(const Error&)>& keep);
    void flushAndRemove(TempFile& temp, const std::function<void(const Error&)>& keep);
    void removeLeftovers(const std::function<void(const Error&)>& keep);
    void refreshScreenIfDue(bool force);
    QStringList unreachedLines();
    // What the file system itself keeps back from any filler, a line each.
    QStringList fileSystemReserves();
    // The folder for the filler on the volume the designator names; throws when none.
    QByteArray chooseFolder(const QByteArray& designator);
    // The names step's stage; false when stopped in it.
    bool cleanNames(NameCleaner::Stage stage);
    void end(Outcome outcome);
    // The end after a reported failure: the files deleted, the controls back, the
    // status saying what failed.
    void endAfterFailure();

    CDriveInfo& m_info;
    FreeSpaceView& m_view;
    BlockingRunner& m_runner;
    StopChannel& m_stop;
    const Settings& m_settings;
    const OperationLog* m_log;

    bool m_running = false;
    bool m_reported = false;
    QString m_failure; // what the reported failure was, for the status line
    Outcome m_outcome = Outcome::None;
    WriteState m_writeState = WriteState::Ok;
    QByteArray m_folderPath;
    std::optional<fs::Folder> m_root;
    std::vector<TempFile> m_files;
    int m_namesUsed = 0; // the temporary file names this run took, kept after it removed them
    // Where in the block pattern the next byte of the current file is.
    int m_phase = 0;
    std::int64_t m_lastFree = 0;
    std::int64_t m_cleanedAtEnd = 0;
    std::int64_t m_sinceFlush = 0;
    QByteArray m_buffer;
    FillWriter m_fill{fillerBlock()};
    QElapsedTimer m_screenClock;
    bool m_screenDue = false;
    QStringList m_unreached;
    std::optional<fillplace::RunLock> m_lock;
    // Not the administrator where the volume keeps a reserve: the user's free space counts.
    bool m_countAvailable = false;
    bool m_inMemory = false;
    int m_namesPercent = -1;
    std::optional<NameCleaner> m_names;
};

} // namespace ov
