// A small FUSE file system for the tests and benchmarks, in two modes:
//
//   ov_testfs image CURRENT DURABLE MOUNTPOINT
//       Shows one file, disk.img, backed by CURRENT. Every write goes to CURRENT and is
//       also kept in a journal; a flush (fsync) of disk.img applies the journal to
//       DURABLE. DURABLE is therefore the disk as a power cut would leave it: every write
//       not covered by a flush is missing. Writing "snapshot PATH" to the file ctl copies
//       DURABLE to PATH at that moment; writing "lose-writes" makes the disk acknowledge
//       every later write without keeping it (a disk that lies).
//
//   ov_testfs passthrough SOURCE MOUNTPOINT [--delay-ms N] [--watch FILE]
//       Shows the folder SOURCE. Every call sleeps N milliseconds first (a slow disk).
//       With --watch, FILE holds a WatchBoard (below): while its `armed` field is set, each
//       call waits until the watching process has served two of its event-loop ticks;
//       a call that waits in vain (the caller's event loop was the one blocked in it) is
//       counted in `stalls`.
//
// Runs in the foreground until it is unmounted; it is started and stopped by FuseMount.

#define FUSE_USE_VERSION 35
#include "support/fuse/WatchBoard.h"

#include <fuse3/fuse.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// --- image mode ---------------------------------------------------------------------

int g_current = -1;
int g_durable = -1;
off_t g_imageSize = 0;
std::mutex g_journalLock;
std::vector<std::pair<off_t, std::string>> g_journal;
bool g_loseWrites = false;

int imageGetattr(const char* path, struct stat* st, fuse_file_info*)
{
    std::memset(st, 0, sizeof *st);
    if (!std::strcmp(path, "/")) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    st->st_nlink = 1;
    if (!std::strcmp(path, "/disk.img")) {
        st->st_mode = S_IFREG | 0600;
        st->st_size = g_imageSize;
        return 0;
    }
    if (!std::strcmp(path, "/ctl")) {
        st->st_mode = S_IFREG | 0600;
        return 0;
    }
    return -ENOENT;
}

int imageReaddir(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                 fuse_readdir_flags)
{
    for (const char* name : {".", "..", "disk.img", "ctl"})
        fill(buffer, name, nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int imageOpen(const char* path, fuse_file_info* fi)
{
    // No page cache for the image: every read reaches the disk as it really is.
    fi->direct_io = 1;
    return !std::strcmp(path, "/disk.img") || !std::strcmp(path, "/ctl") ? 0 : -ENOENT;
}

int imageRead(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*)
{
    if (std::strcmp(path, "/disk.img"))
        return 0;
    const ssize_t n = ::pread(g_current, buffer, size, offset);
    return n < 0 ? -errno : int(n);
}

bool copyDurable(const std::string& to)
{
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0)
        return false;
    std::vector<char> buffer(1 << 20);
    bool ok = ::ftruncate(out, g_imageSize) == 0;
    // Only the stretches that hold data: the rest of the image is a hole in both.
    for (off_t at = 0; ok;) {
        const off_t data = ::lseek(g_durable, at, SEEK_DATA);
        if (data < 0)
            break;
        const off_t hole = ::lseek(g_durable, data, SEEK_HOLE);
        for (at = data; at < hole && ok;) {
            const size_t want = size_t(std::min<off_t>(hole - at, off_t(buffer.size())));
            const ssize_t n = ::pread(g_durable, buffer.data(), want, at);
            ok = n > 0 && ::pwrite(out, buffer.data(), size_t(n), at) == n;
            at += n;
        }
    }
    ok = ::fsync(out) == 0 && ok;
    ::close(out);
    return ok;
}

int imageWrite(const char* path, const char* data, size_t size, off_t offset, fuse_file_info*)
{
    std::lock_guard lock(g_journalLock);
    if (!std::strcmp(path, "/ctl")) {
        std::string command(data, size);
        while (!command.empty() && command.back() == '\n')
            command.pop_back();
        if (command.rfind("snapshot ", 0) == 0)
            return copyDurable(command.substr(9)) ? int(size) : -EIO;
        if (command == "lose-writes") {
            g_loseWrites = true;
            return int(size);
        }
        return -EINVAL;
    }
    // A disk that says it wrote what it never kept.
    if (g_loseWrites)
        return int(size);
    const ssize_t n = ::pwrite(g_current, data, size, offset);
    if (n < 0)
        return -errno;
    g_journal.emplace_back(offset, std::string(data, size_t(n)));
    return int(n);
}

int imageFsync(const char* path, int, fuse_file_info*)
{
    if (std::strcmp(path, "/disk.img"))
        return 0;
    std::lock_guard lock(g_journalLock);
    for (const auto& [offset, bytes] : g_journal) {
        if (::pwrite(g_durable, bytes.data(), bytes.size(), offset) != ssize_t(bytes.size()))
            return -EIO;
    }
    g_journal.clear();
    return 0;
}

int imageTruncate(const char*, off_t, fuse_file_info*)
{
    return 0;
}

// --- passthrough mode ---------------------------------------------------------------

std::string g_source;
int g_delayMs = 0;
ov::test::WatchBoard* g_board = nullptr;

// Before every call: the slow disk, and the watch on the caller's event loop.
void enter(const char* what)
{
    if (g_delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(g_delayMs));
    if (!g_board || !g_board->armed.load())
        return;
    const std::uint64_t start = g_board->ticks.load();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (g_board->ticks.load() < start + 2) {
        if (std::chrono::steady_clock::now() > limit) {
            // One stall is the verdict; the rest of the run goes on unwatched.
            if (g_board->stalls.fetch_add(1) == 0)
                std::snprintf(g_board->firstStall, sizeof g_board->firstStall, "%s", what);
            g_board->armed = 0;
            return;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::string real(const char* path)
{
    return g_source + path;
}

int result(int rc)
{
    return rc < 0 ? -errno : rc;
}

int ptGetattr(const char* path, struct stat* st, fuse_file_info* fi)
{
    enter("getattr");
    return result(fi ? ::fstat(int(fi->fh), st) : ::lstat(real(path).c_str(), st));
}

int ptReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
              fuse_readdir_flags)
{
    enter("readdir");
    DIR* dir = ::opendir(real(path).c_str());
    if (!dir)
        return -errno;
    while (const dirent* entry = ::readdir(dir))
        fill(buffer, entry->d_name, nullptr, 0, fuse_fill_dir_flags(0));
    ::closedir(dir);
    return 0;
}

int ptOpen(const char* path, fuse_file_info* fi)
{
    enter("open");
    const int fd = ::open(real(path).c_str(), fi->flags & ~O_NOFOLLOW);
    if (fd < 0)
        return -errno;
    fi->fh = std::uint64_t(fd);
    return 0;
}

int ptCreate(const char* path, mode_t mode, fuse_file_info* fi)
{
    enter("create");
    const int fd = ::open(real(path).c_str(), fi->flags | O_CREAT, mode);
    if (fd < 0)
        return -errno;
    fi->fh = std::uint64_t(fd);
    return 0;
}

int ptRead(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi)
{
    enter("read");
    return result(int(::pread(int(fi->fh), buffer, size, offset)));
}

int ptWrite(const char*, const char* data, size_t size, off_t offset, fuse_file_info* fi)
{
    enter("write");
    return result(int(::pwrite(int(fi->fh), data, size, offset)));
}

int ptFlush(const char*, fuse_file_info*)
{
    enter("flush");
    return 0;
}

int ptRelease(const char*, fuse_file_info* fi)
{
    ::close(int(fi->fh));
    return 0;
}

int ptFsync(const char*, int dataOnly, fuse_file_info* fi)
{
    enter("fsync");
    return result(dataOnly ? ::fdatasync(int(fi->fh)) : ::fsync(int(fi->fh)));
}

int ptFsyncdir(const char* path, int, fuse_file_info*)
{
    enter("fsyncdir");
    const int fd = ::open(real(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return -errno;
    const int rc = ::fsync(fd);
    ::close(fd);
    return result(rc);
}

int ptUnlink(const char* path)
{
    enter("unlink");
    return result(::unlink(real(path).c_str()));
}

int ptRename(const char* from, const char* to, unsigned int flags)
{
    enter("rename");
    return result(::renameat2(AT_FDCWD, real(from).c_str(), AT_FDCWD, real(to).c_str(), flags));
}

int ptLink(const char* from, const char* to)
{
    enter("link");
    return result(::link(real(from).c_str(), real(to).c_str()));
}

int ptSymlink(const char* target, const char* path)
{
    enter("symlink");
    return result(::symlink(target, real(path).c_str()));
}

int ptReadlink(const char* path, char* buffer, size_t size)
{
    enter("readlink");
    const ssize_t n = ::readlink(real(path).c_str(), buffer, size - 1);
    if (n < 0)
        return -errno;
    buffer[n] = '\0';
    return 0;
}

int ptMkdir(const char* path, mode_t mode)
{
    enter("mkdir");
    return result(::mkdir(real(path).c_str(), mode));
}

int ptRmdir(const char* path)
{
    enter("rmdir");
    return result(::rmdir(real(path).c_str()));
}

int ptChmod(const char* path, mode_t mode, fuse_file_info* fi)
{
    enter("chmod");
    return result(fi ? ::fchmod(int(fi->fh), mode) : ::chmod(real(path).c_str(), mode));
}

int ptTruncate(const char* path, off_t size, fuse_file_info* fi)
{
    enter("truncate");
    return result(fi ? ::ftruncate(int(fi->fh), size) : ::truncate(real(path).c_str(), size));
}

int ptUtimens(const char* path, const timespec times[2], fuse_file_info*)
{
    enter("utimens");
    return result(::utimensat(AT_FDCWD, real(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int ptStatfs(const char*, struct statvfs* st)
{
    enter("statfs");
    return result(::statvfs(g_source.c_str(), st));
}

off_t ptLseek(const char*, off_t offset, int whence, fuse_file_info* fi)
{
    enter("lseek");
    const off_t at = ::lseek(int(fi->fh), offset, whence);
    return at < 0 ? -errno : at;
}

int usage()
{
    std::fputs("usage: ov_testfs image CURRENT DURABLE MOUNTPOINT\n"
               "       ov_testfs passthrough SOURCE MOUNTPOINT [--delay-ms N] [--watch FILE]\n",
               stderr);
    return 2;
}

int mount(const char* self, const char* mountPoint, const fuse_operations& ops)
{
    // Every call reaches the file system: nothing is answered from the kernel's caches.
    const char* args[] = {self, mountPoint, "-f", "-o",
                          "attr_timeout=0,entry_timeout=0,negative_timeout=0,fsname=ov_testfs"};
    return fuse_main(int(sizeof args / sizeof *args), const_cast<char**>(args), &ops, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && !std::strcmp(argv[1], "image")) {
        g_current = ::open(argv[2], O_RDWR);
        g_durable = ::open(argv[3], O_RDWR);
        struct stat st;
        if (g_current < 0 || g_durable < 0 || ::fstat(g_current, &st) != 0)
            return 1;
        g_imageSize = st.st_size;
        fuse_operations ops{};
        ops.getattr = imageGetattr;
        ops.readdir = imageReaddir;
        ops.open = imageOpen;
        ops.read = imageRead;
        ops.write = imageWrite;
        ops.fsync = imageFsync;
        ops.truncate = imageTruncate;
        return mount(argv[0], argv[4], ops);
    }
    if (argc >= 4 && !std::strcmp(argv[1], "passthrough")) {
        g_source = argv[2];
        for (int i = 4; i + 1 < argc; i += 2) {
            if (!std::strcmp(argv[i], "--delay-ms")) {
                g_delayMs = std::atoi(argv[i + 1]);
            } else if (!std::strcmp(argv[i], "--watch")) {
                const int fd = ::open(argv[i + 1], O_RDWR);
                void* shared = fd < 0 ? MAP_FAILED
                                      : ::mmap(nullptr, sizeof(ov::test::WatchBoard),
                                               PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                if (shared == MAP_FAILED)
                    return 1;
                g_board = static_cast<ov::test::WatchBoard*>(shared);
            } else {
                return usage();
            }
        }
        fuse_operations ops{};
        ops.getattr = ptGetattr;
        ops.readdir = ptReaddir;
        ops.open = ptOpen;
        ops.create = ptCreate;
        ops.read = ptRead;
        ops.write = ptWrite;
        ops.flush = ptFlush;
        ops.release = ptRelease;
        ops.fsync = ptFsync;
        ops.fsyncdir = ptFsyncdir;
        ops.unlink = ptUnlink;
        ops.rename = ptRename;
        ops.link = ptLink;
        ops.symlink = ptSymlink;
        ops.readlink = ptReadlink;
        ops.mkdir = ptMkdir;
        ops.rmdir = ptRmdir;
        ops.chmod = ptChmod;
        ops.truncate = ptTruncate;
        ops.utimens = ptUtimens;
        ops.statfs = ptStatfs;
        ops.lseek = ptLseek;
        return mount(argv[0], argv[3], ops);
    }
    return usage();
}
