#pragma once

#include "drive/DriveInfo.h"
#include "platform/EngineHost.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

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
};

// Fills the free space of one volume with a temporary file of filler blocks until less
// than 10,000 bytes are free or Stop is pressed, then flushes and deletes the file.
// Everything runs on the calling (interface) thread; writes and flushes go through the
// event host, which keeps the window serving its events meanwhile.
class FreeSpaceRun
{
public:
    static constexpr std::int64_t kEndThreshold = 10000;
    static constexpr int kBlockSize = 912;
    static constexpr int kLineSize = 152;
    // Far from the end, one write carries up to this many blocks (about 8 MiB).
    static constexpr int kMaxBatchBlocks = 9198;
    // Within this distance of the end threshold, one block per cycle.
    static constexpr std::int64_t kNearZone = 1 << 20;
    // Write-back of the filler is started after every so many bytes, not only by the
    // flush at the end (which waits for all of it).
    static constexpr std::int64_t kSyncInterval = 256 << 20;

    enum class Outcome
    {
        None,     // no run yet
        Finished, // the volume is full (or was from the start)
        Stopped,  // Stop was pressed
        Failed,   // a failure was reported
    };

    FreeSpaceRun(CDriveInfo& objDriveInfo, FreeSpaceView& view, EngineHost& host,
                 const Settings& settings, const OperationLog* log);
    ~FreeSpaceRun();
    FreeSpaceRun(const FreeSpaceRun&) = delete;
    FreeSpaceRun& operator=(const FreeSpaceRun&) = delete;

    // The run; returns when it has ended. Does nothing while a run is in progress.
    void Command1_Click();
    // Asks the run to stop after the cycle in progress.
    void cmdStop_Click();

    // One cycle's pieces.
    bool StillSpace();
    void WriteData();
    void UpdateScreen();

    bool isRunning() const { return m_running; }
    Outcome lastOutcome() const { return m_outcome; }
    // Bytes in the temporary files of the current run, or of the last one once it ended.
    std::int64_t cleanedBytes() const;
    // Called once a run has ended, its files deleted.
    std::function<void()> onFinished;

    // One filler block: six lines of 150 equal bytes and CR LF.
    static QByteArray fillerBlock();
    // "ovtempx.dat", then "ovtempx1.dat", "ovtempx2.dat", ... beside it.
    static QByteArray tempFileName(int index);
    // The step number of a failing write, by the byte of the block it failed at.
    static int writeStepAt(int offsetInBlock);
    // How many blocks one write carries with `freeBytes` free.
    static int batchBlocks(std::int64_t freeBytes);

private:
    struct TempFile
    {
        QByteArray name; // in the volume's root
        std::optional<fs::File> file;
        fs::Identity id;
        std::int64_t closedSize = 0; // length once closed
        bool written = false;
    };
    enum class WriteState
    {
        Ok,
        Full,
        Failed
    };

    QByteArray designator() const { return m_view.driveDesignator(); }
    // The temporary file is still the one this run made (no link or other file swapped
    // in under its name).
    bool stillOurs(const TempFile& temp) const;
    QByteArray pathOf(const TempFile& temp) const;
    void report(int step, const Error& error);
    bool anyWritten() const;
    void openNextFile();
    // Writes `length` bytes of whole blocks; the write state turns Full when the volume
    // is. A failure is thrown, with `step` set to where it happened.
    void appendBlocks(std::int64_t length, int* step);
    void syncCurrent();
    void startWriteback();
    // Flushes, closes and deletes every temporary file; the first failure, after trying
    // them all.
    std::optional<Error> removeTempFiles();
    void refreshScreenIfDue(bool force);
    void end(Outcome outcome);
    // The end after a reported failure: the files deleted, the controls back.
    void endAfterFailure();

    CDriveInfo& m_info;
    FreeSpaceView& m_view;
    EngineHost& m_host;
    const Settings& m_settings;
    const OperationLog* m_log;

    bool m_running = false;
    bool m_driveWorking = false;
    bool m_reported = false;
    Outcome m_outcome = Outcome::None;
    WriteState m_writeState = WriteState::Ok;
    QByteArray m_folderPath;
    std::optional<fs::Folder> m_root;
    std::vector<TempFile> m_files;
    std::int64_t m_lastFree = 0;
    std::int64_t m_cleanedAtEnd = 0;
    std::int64_t m_sinceSync = 0;
    std::int64_t m_writebackFrom = 0;
    QByteArray m_buffer;
    QElapsedTimer m_screenClock;
    bool m_screenDue = false;
};

} // namespace ov
