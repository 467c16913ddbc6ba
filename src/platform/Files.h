#pragma once

#include "platform/EngineHost.h"

#include <QByteArray>

#include <sys/types.h>

namespace ov::fs {

// The facts of one directory entry, links not followed.
struct EntryInfo
{
    off_t size = 0;
    mode_t mode = 0;
    bool isRegular() const;
    bool ownerWritable() const;
};

// lstat(); throws Error on failure.
EntryInfo entryInfo(const QByteArray& path);

// Throws a clear Error unless the entry is a regular file (a link, folder, device,
// FIFO or socket is refused without being opened).
void requireRegular(const QByteArray& path, const EntryInfo& info);

// An open file descriptor that is closed when it goes away. Blocking calls go through
// the event host given at opening.
class File
{
public:
    enum class Access
    {
        ReadWrite,
        WriteOnly
    };

    // Opens a regular file without following a link and without blocking on a FIFO;
    // the descriptor is checked again (fstat), so nothing can be swapped in between.
    // With refuseReadOnly, a file whose owner may not write it is refused as the old
    // platform refused it, even where root could write it.
    static File openRegular(const QByteArray& path, Access access, EngineHost& host,
                            bool refuseReadOnly = false);
    // Creates (0600) or opens a file for appending; refuses anything that is not a
    // regular file owned by this user.
    static File openAppendOwned(const QByteArray& path, EngineHost& host);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    const QByteArray& path() const { return m_path; }
    int fd() const { return m_fd; }
    off_t size() const;

    // Writes all of data at offset (or at the end for an append file); off-thread.
    void writeAt(const char* data, size_t length, off_t offset);
    void append(const char* data, size_t length);
    // fdatasync(); off-thread.
    void sync();
    // Closes and reports a failure of close() itself.
    void close();

private:
    static File openChecked(const QByteArray& path, int flags, bool mustBeOwned, EngineHost& host);
    File(int fd, QByteArray path, EngineHost& host)
        : m_fd(fd), m_path(std::move(path)), m_host(&host)
    {}
    int m_fd = -1;
    QByteArray m_path;
    EngineHost* m_host = nullptr;
};

// Renames within a folder and fails when the new name exists: never replaces.
void renameNoReplace(const QByteArray& from, const QByteArray& to);
// unlink(); throws on failure.
void removeFile(const QByteArray& path);
// Gives the owner write permission (chmod u+w) without following a link.
void makeOwnerWritable(const QByteArray& path);
// The whole file; throws Error when it cannot be opened or read.
QByteArray readFile(const QByteArray& path);
// True when a name can be lstat'ed.
bool entryExists(const QByteArray& path);

} // namespace ov::fs
