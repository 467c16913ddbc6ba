#pragma once

#include "platform/BlockingRunner.h"
#include "platform/Descriptor.h"
#include "platform/FileSystemKind.h"

#include <QByteArray>

#include <cstddef>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace ov {
class Error;
}

namespace ov::fs {

// What makes a file that file: its device and inode, whatever its names.
struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const Identity&, const Identity&) = default;
};

// The facts of one directory entry (links not followed) or of an open descriptor.
struct EntryInfo
{
    off_t size = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    nlink_t links = 0;
    Identity id;
    bool isRegular() const;
    bool isFolder() const;
    bool ownerWritable() const;
    bool ownedByThisUser() const;
};

// lstat(); throws Error on failure.
EntryInfo entryInfo(const QByteArray& path);
// lstat(); nothing when there is no such name (or it cannot be looked at).
std::optional<EntryInfo> lookAt(const QByteArray& path);
// True when a name can be lstat'ed.
bool entryExists(const QByteArray& path);
// True when the path leads to a folder (links followed).
bool isFolder(const QByteArray& path);

// The clear refusal of anything that is not a regular file (link, folder, device, ...).
Error notRegular(const QByteArray& path, mode_t mode);
void requireRegular(const QByteArray& path, const EntryInfo& info);

// An open regular file. Blocking calls go through the blocking runner given at opening,
// and a failure is thrown from inside them.
class File
{
public:
    enum class Access
    {
        ReadOnly,
        ReadWrite,
        WriteOnly
    };

    // Creates (0600) or opens a file for appending; see Folder::openAppendOwned.
    static File openAppendOwned(const QByteArray& path, BlockingRunner& runner);

    File(File&& other) noexcept = default;
    File& operator=(File&& other) noexcept = default;

    const QByteArray& path() const { return m_path; }
    int fd() const { return m_fd.get(); }
    EntryInfo info() const;
    off_t size() const;
    // What the file was when it was opened (Folder::openFile), checked then.
    const std::optional<EntryInfo>& openedAs() const { return m_opened; }

    // The next stretch of data in [from, to), holes skipped; nothing when only holes are
    // left. A file system that cannot tell holes gives the whole range.
    std::optional<std::pair<off_t, off_t>> nextData(off_t from, off_t to) const;

    // Writes all of data at offset; a short write is continued, no progress is ENOSPC.
    void writeAt(const char* data, size_t length, off_t offset);
    // Appends all of data (an append file).
    void append(const char* data, size_t length);
    // One append write: how many bytes went in (at least one).
    size_t appendSome(const char* data, size_t length);
    // Starts the disk writing [from, to) without waiting for it.
    void startWriteback(off_t from, off_t to);
    // fdatasync().
    void sync();
    // Closes and reports a failure of close() itself (a deferred write error).
    void close();

    enum class Lease
    {
        Taken,        // no one else had the file open
        Busy,         // another description of the file is open (also one of this process)
        NotAllowed,   // this user may not take a lease on it (not the owner)
        NotSupported, // the file system takes no leases
    };
    // Whether anyone else has the file open now: a write lease (F_SETLEASE F_WRLCK) is
    // granted only then. It is let go at once, so that no open, not even one of this
    // process, waits on it.
    Lease aloneNow() const;

private:
    friend class Folder;
    File(Descriptor fd, QByteArray path, BlockingRunner& runner)
        : m_fd(std::move(fd)), m_path(std::move(path)), m_runner(&runner)
    {}
    Descriptor m_fd;
    std::optional<EntryInfo> m_opened;
    mutable bool m_breaksQuiet = false; // a lease's break sends SIGURG, not SIGIO
    QByteArray m_path;
    BlockingRunner* m_runner = nullptr;
};

// A folder held open for the length of one operation. Names are looked up, opened,
// renamed and removed relative to it, so a folder swapped for a link (or moved) on the
// way to it afterwards cannot redirect the operation to another file.
class Folder
{
public:
    // Opens the folder, following links as the path names them.
    static Folder open(const QByteArray& path, BlockingRunner& runner);
    // Opens a folder of this folder, never through a link.
    Folder openFolder(const QByteArray& name) const;
    // The same folder, held a second time (for an operation of its own).
    Folder duplicate() const;
    // The folder this one is in, through "..", named `path`; nothing when that is not the
    // folder `expected` (this one was moved meanwhile). Throws when it cannot be opened.
    std::optional<Folder> openParent(const QByteArray& path, Identity expected) const;

    Folder(Folder&& other) noexcept = default;
    Folder& operator=(Folder&& other) noexcept = default;

    const QByteArray& path() const { return m_path; }
    QByteArray pathOf(const QByteArray& name) const;
    // The descriptor, for the platform's own calls relative to the folder.
    int fd() const { return m_fd.get(); }
    Identity identity() const { return m_id; }
    // Whether the folder's path still leads to this folder.
    bool stillAt(const QByteArray& path) const;

    // fstatat() without following a link; nothing when there is no such name.
    std::optional<EntryInfo> lookAt(const QByteArray& name) const;
    // Opens a regular file of this folder, never through a link and never blocking on a
    // FIFO; anything else is refused with a clear message.
    File openFile(const QByteArray& name, File::Access access) const;
    // Creates a file (0600) or opens one for appending; refuses a link, anything but a
    // regular file, another user's file and a file with more than one name.
    File openAppendOwned(const QByteArray& name) const;
    // A descriptor of the entry itself (O_PATH): it holds the inode without opening its
    // contents, and never follows a link.
    Descriptor openEntry(const QByteArray& name) const;

    // Renames within the folder; fails when the new name exists: never replaces.
    void rename(const QByteArray& from, const QByteArray& to) const;
    void remove(const QByteArray& name) const;
    // Removes an empty folder of this folder.
    void removeFolder(const QByteArray& name) const;
    // Makes a new folder (mode 0700) of a name no entry has and opens it; it must be this
    // user's, or it is not the folder made. The name is chosen here from `stem`.
    Folder makePrivateFolder(const QByteArray& stem, QByteArray* name) const;
    // Moves the entry `name` into the folder `to` under the same name, never replacing.
    void moveInto(const QByteArray& name, const Folder& to) const;
    // Moves the entry `name` of `from` back here under the same name, never replacing.
    void moveBackFrom(const Folder& from, const QByteArray& name) const;
    // fsync() of the folder: created, renamed and removed names reach the disk.
    void sync() const;
    // syncfs(): everything written on the folder's volume reaches the disk, data and names
    // of every file alike. Fails when the volume has reported a write error since the
    // folder was opened.
    void syncVolume() const;
    // Throws a clear Error (naming filePath) when this user could not rename or remove the
    // file in this folder: a read-only volume, no write permission on the folder, a
    // sticky folder and another user's file, an immutable or append-only folder. The
    // duplicates of one opening (a folder's files taken one after the other) share one
    // look at the folder.
    void requireNamesChangeable(const EntryInfo& file, const QByteArray& filePath) const;
    // The names in the folder, "." and ".." left out.
    std::vector<QByteArray> names() const;

private:
    File openChecked(const QByteArray& name, int flags, bool appendOwned) const;
    Folder(Descriptor fd, QByteArray path, Identity id, BlockingRunner& runner)
        : m_fd(std::move(fd)), m_path(std::move(path)), m_id(id), m_runner(&runner)
    {}
    mutable Descriptor m_fd;
    QByteArray m_path;
    Identity m_id;
    BlockingRunner* m_runner = nullptr;
    // What decides whether names may be changed here, looked at once.
    struct Facts
    {
        bool readOnlyVolume = false;
        int access = 0; // errno of the write permission check, or 0
        bool sticky = false;
        uid_t owner = 0;
        uid_t user = 0;
        bool frozen = false; // immutable or append-only
    };
    mutable std::shared_ptr<std::optional<Facts>> m_facts; // shared with duplicates
};

// Facts of an entry held by a descriptor (Folder::openEntry); `path` names it in errors.
EntryInfo entryInfo(const Descriptor& entry, const QByteArray& path, BlockingRunner& runner);
// The kind of file system the entry lives on (fstatfs).
FileSystemKind fileSystemOf(const Descriptor& entry, const QByteArray& path,
                            BlockingRunner& runner);
// Sets the permission bits of the held entry (never a link's target).
void setMode(const Descriptor& entry, mode_t mode, const QByteArray& path, BlockingRunner& runner);

// unlink(); throws on failure.
void removeFile(const QByteArray& path);
// The whole file; throws Error when it cannot be opened or read.
QByteArray readFile(const QByteArray& path);
// 0 when this user may write the file or folder, otherwise why not (an errno value).
int writeAccessFailure(const QByteArray& path);
// Whether the path leads to something (links followed).
bool existsFollowingLinks(const QByteArray& path);

// A file-size limit (ulimit -f) must make a write fail with EFBIG, which is reported,
// instead of killing the process half-way with its files left behind.
void ignoreFileSizeLimitSignal();
// How many descriptors this process may hold open at once.
std::size_t descriptorLimit();
// Raises that limit as far as the system lets this process (nothing here waits with
// select(), which breaks past 1,024), so that a batch may hold many small files.
std::size_t raiseDescriptorLimit();

} // namespace ov::fs
