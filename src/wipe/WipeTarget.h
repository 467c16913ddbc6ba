#pragma once

#include "platform/BlockingRunner.h"
#include "platform/DirectRead.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Layers.h"
#include "platform/StopChannel.h"
#include "settings/Settings.h"
#include "wipe/Verification.h"

#include <QByteArray>

#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace ov {

// What a wipe needs from around it.
struct WipeEnv
{
    BlockingRunner& runner;
    // ScrambleNames is read once, when the file's wipe starts, so that everything the
    // rename needs is checked before the first byte.
    const Settings& settings;
    // Checked between writes: a request to stop now ends the wipe after the write in hand.
    const StopChannel& stop;
    // A relative path is taken from this folder (the one the program was started in).
    QByteArray startFolder;
    // Read the old blocks back after the last pass (the mapping is always compared).
    bool readBack = true;
    // Every level gives the owner write permission first (as the medium level always
    // does), and takes it back when the wipe fails: a read-only file is destroyed too.
    bool giveOwnerWrite = false;
    // Every level refuses a read-only file, the medium level too (unless giveOwnerWrite).
    bool refuseReadOnly = false;
    // Told the size of every write as it is made (progress by bytes); may be empty.
    std::function<void(std::size_t)> onWritten = {};
    // The mounts and devices a run has already looked at; without it each file looks anew.
    fs::LayerCache* layers = nullptr;
};

// The private folders that deletes go through (WipeTarget::remove): one in each folder,
// made at its first delete and shared by the deletes after, one file at a time; removed
// by clear(). A folder left holding what is not ours is never used again nor removed.
class DeleteBoxes
{
public:
    DeleteBoxes() = default;
    DeleteBoxes(const DeleteBoxes&) = delete;
    DeleteBoxes& operator=(const DeleteBoxes&) = delete;
    ~DeleteBoxes() { clear(); }

    // The private folder in `folder`, made when it has none yet.
    const fs::Folder& in(const fs::Folder& folder);
    // What `folder`'s private folder holds is not ours: it stays as it is.
    void spoil(const fs::Folder& folder);
    // Removes each private folder still ours. Blocking: call it on the worker.
    void clear() noexcept;

private:
    struct Box
    {
        fs::Folder parent;
        fs::Folder folder;
        QByteArray name;
        bool spoiled = false;
    };
    std::vector<Box> m_boxes;
};

// What the user must know about a file once a wipe has dealt with it.
struct [[nodiscard]] WipeOutcome
{
    // False only for a blank entry at the medium level, which touches nothing.
    bool touched = false;
    // Other names (hard links) that still point at the overwritten contents.
    nlink_t otherNames = 0;
    // Whether the old bytes are gone from the device.
    Verdict verdict;
    // The file system keeps copies of deleted names (its journal, log or metadata), which
    // the Disk Cleaner's free-space run writes over.
    bool namesMayRemain = false;
};

// The volumes' devices opened for reading back, each once for many files (a batch):
// finding and opening a device costs more than reading back a small file.
class DeviceReaders
{
public:
    // The reader of the device that holds the volume `device`, opened the first time it
    // is asked for; nothing when it cannot be read (asked once).
    const fs::DirectReader* forVolume(dev_t device, BlockingRunner& runner);
    // How many devices were looked for.
    size_t looked() const { return m_readers.size(); }

private:
    std::map<dev_t, std::optional<fs::DirectReader>> m_readers;
};

// One file named for destruction, held from the first look to the delete. Its folder is
// opened once and every later step goes through it; each step must find the same file
// (device and inode) under the name, or the wipe ends with "The file was replaced while
// it was being destroyed" and nothing more is written anywhere.
class WipeTarget
{
public:
    struct Rules
    {
        bool deleteAfter = true;
        bool scramble = false;       // renamed to "ovlxx.ovl" before the delete
        bool refuseReadOnly = false; // a file without owner write permission is refused
        bool giveOwnerWrite = false; // made writable by its owner first, restored on failure
        // A batch flushes the whole volume once after each pass and after the deletes
        // (WipeBatch): the passes and the folder are then not flushed one by one here.
        bool volumeFlush = false;
        // conclude() leaves the delete to the caller (remove()), who flushes each folder
        // once after the deletes of many files: every flush of a folder commits it to the
        // journal again, with the names still to go.
        bool deferDelete = false;
        off_t maxLength = std::numeric_limits<off_t>::max(); // room for the method's rounding
    };

    // Resolves the path and checks everything that can be known to fail before the first
    // write: a name (no NUL byte), a regular file on a storage file system, its length,
    // write permission, a folder whose names may be changed, no "ovlxx.ovl" in the way.
    // Each is one hand-off to the worker.
    static WipeTarget prepare(const QByteArray& named, const Rules& rules, const WipeEnv& env);
    // The same for the file `name` of a folder already held (a walk through a tree: no
    // path is looked up again).
    static WipeTarget prepareIn(fs::Folder folder, const QByteArray& name, const Rules& rules,
                                const WipeEnv& env);

    WipeTarget(WipeTarget&&) noexcept = default;

    // The whole path as resolved (the name it has now).
    QByteArray path() const { return m_folder.pathOf(m_name); }
    const WipeEnv& env() const { return m_env; }
    const Rules& rules() const { return m_rules; }
    // The folder held, whose volume a batch flushes.
    const fs::Folder& folder() const { return m_folder; }
    off_t initialLength() const { return m_initialLength; }
    // How many other names point at the file's contents (hard links).
    nlink_t otherNames() const { return m_links > 0 ? m_links - 1 : 0; }
    // Whether the file's length changed under the wipe, other than by the wipe itself.
    bool changed() const { return m_changed; }

    const WrittenBytes& written() const { return m_written; }

    // Gives the owner write permission; restoreMode() puts the old mode back.
    void makeOwnerWritable();
    void restoreMode() noexcept;

    // Renames (when the rules say so) and deletes the file, flushing the folder after
    // each, so that the file is gone for good when this returns; unless the rules leave
    // the flushes to the caller (volumeFlush, deferDelete).
    // The deletes of many files share the private folders of `boxes`, which the caller
    // clears; without it the file's delete has one of its own.
    void remove(DeleteBoxes* boxes = nullptr);
    // The file's entry, which a batch's delete (volumeFlush) leaves held: the caller lets
    // go of it before the volume is flushed.
    fs::Descriptor releaseEntry() { return std::move(m_entry); }
    // The end of every wipe once its last pass is flushed: a file that changed meanwhile
    // is a failure; otherwise the verdict, then (when the rules say so) the delete. One
    // hand-off to the worker. The delete goes through `boxes` when given (see remove()).
    WipeOutcome conclude(DeleteBoxes* boxes = nullptr);
    // conclude() in three steps, for a batch whose read backs wait on the disk together.
    // Blocking, in a unit: the checks, the extents now against those before the first
    // write, and what must be read back (from the volume's device where this user may read
    // it, else past the file's cache). readBackHere() reads it, on any thread, touching
    // nothing shared but the reader; endConclusion() gives the verdict and deletes.
    void beginConclusion();
    void readBackHere(bool yielding) noexcept;
    WipeOutcome endConclusion(DeleteBoxes* boxes);

    // Throws "The file was replaced ..." unless the name still is the file held.
    void requireSameFile(const QByteArray& name) const;
    // Renames the file within its folder, never replacing another file and never
    // renaming another file that took its name.
    void renameTo(const QByteArray& name);

    // What decides whether an overwrite reaches the old bytes, as far as known so far.
    const Reach& reach() const { return m_reach; }

    // The read back takes the volume's device from `readers`, which outlive the wipe.
    void readBackThrough(DeviceReaders& readers) { m_readers = &readers; }

private:
    friend class WipePass;
    static WipeTarget prepareHere(const QByteArray& named, const Rules& rules, const WipeEnv& env);
    static WipeTarget prepareInHere(fs::Folder folder, const QByteArray& name, const Rules& rules,
                                    const WipeEnv& env);
    WipeOutcome concludeHere(DeleteBoxes* boxes);
    // A verdict up to its read back.
    struct PendingVerdict
    {
        struct Check
        {
            off_t at = 0; // in the reader's terms
            off_t length = 0;
            char byte = 0;
        };
        std::optional<Verdict> known;             // decided without reading
        std::optional<Verdict> below;             // what a layer below says once the read agrees
        std::optional<fs::DirectReader> own;      // opened for this file alone
        const fs::DirectReader* shared = nullptr; // a batch's reader of the device
        const fs::DirectReader& reader() const { return own ? *own : *shared; }
        QString where; // the device read, or empty for the file
        std::vector<Check> checks;
        std::optional<bool> held; // what the read back found
        std::optional<Error> failure;
    };
    PendingVerdict planVerdict();
    Verdict pendingVerdict();
    WipeTarget(fs::Folder folder, QByteArray name, QByteArray folderPath, const Rules& rules,
               const WipeEnv& env);
    Error replaced() const;
    // The layers under the name, judged before the first byte: an overlay's lower layer
    // refused, the file system holding the data, its mount options, a loop device's
    // image, the medium.
    void assessLayers();
    // The file opened once for all passes (one open description: a lease tells whether
    // anyone else has it open); refused when someone else holds it open.
    void holdOpen(fs::File::Access access);
    // Throws when someone else has opened the file since the wipe began and holds it.
    void requireAlone() const;
    // What the layer under a loop device says, once the file's verdict is known.
    std::optional<Verdict> judgeImage();
    // Where the file's old places lie in a loop device's image, before the first write.
    void mapImage();
    // Deletes the file from a private folder beside it: a name swapped in between cannot
    // send the delete to another file.
    void removePrivately(DeleteBoxes& boxes);

    fs::Folder m_folder;
    QByteArray m_name;
    QByteArray m_folderPath; // as named, to notice a folder swapped on the way to the file
    Rules m_rules;
    const WipeEnv& m_env;
    fs::Descriptor m_entry; // the file itself, held (O_PATH)
    fs::Identity m_id;
    nlink_t m_links = 0;
    mode_t m_mode = 0;
    std::optional<mode_t> m_modeToRestore;
    off_t m_initialLength = 0;
    off_t m_expectedLength = 0; // what the wipe's own writes have left
    bool m_changed = false;
    FileSystemKind m_kind;
    Reach m_reach;
    dev_t m_dataDevice = 0;         // the device whose blocks hold the data
    std::optional<fs::File> m_held; // open for all passes
    bool m_leased = false;          // a lease could tell whether it is open elsewhere
    QString m_caveat;               // what the medium may keep
    struct Image                    // a loop device's image holding the volume
    {
        QByteArray path;
        off_t offset = 0;
        Reach reach;
        std::optional<fs::File> file;                // where this user may read it
        std::vector<std::pair<off_t, off_t>> ranges; // the file's old places in it
        std::optional<std::vector<fs::Extent>> before;
    };
    std::optional<Image> m_image;
    bool m_mapped = false; // the extents before the first write were read
    // The stretches of data the last pass wrote over the whole file, and its length then.
    std::optional<std::vector<std::pair<off_t, off_t>>> m_dataMap;
    off_t m_dataMapLength = 0;
    std::optional<std::vector<fs::Extent>> m_before;
    WrittenBytes m_written;
    DeviceReaders* m_readers = nullptr; // shared by a batch; else the device is opened here
    std::optional<PendingVerdict> m_pending;
};

// One pass over a held file: found again under its name in the held folder, written
// through the description held for every pass, and flushed. After a failure in the
// middle, what was written is flushed before the failure goes on.
class WipePass
{
public:
    WipePass(WipeTarget& target, fs::File::Access access);
    WipePass(const WipePass&) = delete;
    WipePass& operator=(const WipePass&) = delete;

    // The file's length when the pass opened it.
    off_t startLength() const { return m_startLength; }

    // Writes `byte` over [from, to): within the pass's starting length only where the
    // file holds data (a hole holds none of the file's data, and filling it would cost
    // space and time), beyond it everywhere. Yields after each piece.
    void fill(char byte, off_t from, off_t to);
    // Writes the bytes as they are.
    void write(const char* data, size_t length, off_t at);

    // Flushes the pass to the disk.
    void finish();
    // The ending after a failure: flushes what was written, quietly.
    void abandon() noexcept;

    // Runs `body` as one pass, finishing it, or abandoning it when the body throws. The
    // whole pass (open, writes, flush) is one hand-off to the worker: the stop is checked
    // there between writes, and the window serves its events meanwhile.
    template <class Body> static void run(WipeTarget& target, fs::File::Access access, Body&& body)
    {
        target.env().runner.runBlocking([&] {
            WipePass pass(target, access);
            try {
                body(pass);
            } catch (...) {
                pass.abandon();
                throw;
            }
            pass.finish();
        });
    }

private:
    void checkStop() const;

    WipeTarget& m_target;
    fs::File* m_file = nullptr; // the target's held file
    bool m_lookFresh = true;    // the opening's checks are the latest
    bool m_leaseFresh = false;  // the lease was taken by the opening
    bool m_mappedNow = false;   // the target's extents were mapped by the opening
    off_t m_startLength = 0;
    off_t m_end = 0;         // the largest end written, or the starting length
    off_t m_writtenBack = 0; // where the disk was last asked to start writing up to
};

// Why a read-only file is refused (the rules say so).
QString readOnlyRefusal();

// The size of the pieces every pass is written in.
inline constexpr size_t kWriteChunk = 1u << 20;
// A long pass asks the disk to start writing after each this much.
inline constexpr off_t kWritebackStep = off_t(8) << 20;

} // namespace ov
