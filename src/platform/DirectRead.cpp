#include "platform/DirectRead.h"

#include "platform/Error.h"
#include "platform/Files.h"

#include <QList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ov::fs {

namespace {

// Direct reads want their offset, length and buffer aligned to the device's blocks; 4 KiB
// suits every device in use.
constexpr off_t kAlign = 4096;
// A read of a checked stretch, and how many are in flight: a disk reads fastest given a
// queue of large requests.
constexpr off_t kCheckPiece = 4 << 20;
constexpr int kChecksInFlight = 4;

struct FreeMemory
{
    void operator()(char* memory) const { std::free(memory); }
};

QByteArray sysBlockFile(dev_t device, const char* file)
{
    const QByteArray path = "/sys/dev/block/" + QByteArray::number(major(device)) + ':' +
                            QByteArray::number(minor(device)) + '/' + file;
    try {
        return readFile(path).trimmed();
    } catch (const Error&) {
        return {};
    }
}

Descriptor openDirect(const QByteArray& path)
{
    return Descriptor(::open(path.constData(), O_RDONLY | O_DIRECT | O_CLOEXEC | O_NOCTTY));
}

} // namespace

std::optional<DirectReader> DirectReader::forFile(const Folder& folder, const QByteArray& name,
                                                  dev_t device, ino_t inode, BlockingRunner& runner)
{
    const QByteArray path = folder.pathOf(name);
    std::optional<Descriptor> fd = runner.blocking([&]() -> std::optional<Descriptor> {
        Descriptor opened(
            ::openat(folder.fd(), name.constData(),
                     O_RDONLY | O_DIRECT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (!opened.valid())
            return std::nullopt;
        struct stat st;
        if (::fstat(opened.get(), &st) != 0 || st.st_dev != device || st.st_ino != inode)
            return std::nullopt;
        return opened;
    });
    if (!fd)
        return std::nullopt;
    return DirectReader(std::move(*fd), path, 0, runner);
}

std::optional<DirectReader> DirectReader::forVolume(dev_t device, BlockingRunner& runner)
{
    return runner.blocking([&]() -> std::optional<DirectReader> {
        // The device node the kernel names for it.
        QByteArray name;
        for (const QByteArray& line : sysBlockFile(device, "uevent").split('\n')) {
            if (line.startsWith("DEVNAME="))
                name = line.mid(8);
        }
        if (!name.isEmpty()) {
            const QByteArray node = "/dev/" + name;
            Descriptor fd = openDirect(node);
            struct stat st;
            if (fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISBLK(st.st_mode) &&
                st.st_rdev == device)
                return DirectReader(std::move(fd), node, 0, runner);
        }
        // A loop device whose image this user may read: the image itself.
        const QByteArray backing = sysBlockFile(device, "loop/backing_file");
        if (!backing.isEmpty()) {
            Descriptor fd = openDirect(backing);
            if (fd.valid())
                return DirectReader(std::move(fd), backing,
                                    off_t(sysBlockFile(device, "loop/offset").toLongLong()),
                                    runner);
        }
        return std::nullopt;
    });
}

QByteArray DirectReader::read(off_t at, size_t length) const
{
    const off_t start = (m_base + at) / kAlign * kAlign;
    const off_t end = (m_base + at + off_t(length) + kAlign - 1) / kAlign * kAlign;
    const size_t span = size_t(end - start);
    return m_runner->blocking([&] {
        void* raw = nullptr;
        if (::posix_memalign(&raw, size_t(kAlign), span) != 0)
            throwError(ENOMEM, m_path);
        std::unique_ptr<char, decltype(&std::free)> buffer(static_cast<char*>(raw), &std::free);
        size_t done = 0;
        while (done < span) {
            const ssize_t n =
                ::pread(m_fd.get(), buffer.get() + done, span - done, start + off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throwErrno(m_path);
            if (n == 0)
                break; // the end of the file: the rest reads as nothing
            done += size_t(n);
        }
        const size_t skip = size_t(m_base + at - start);
        const size_t got = done > skip ? std::min(length, done - skip) : 0;
        return QByteArray(buffer.get() + skip, qsizetype(got));
    });
}

bool DirectReader::holdsHere(off_t at, off_t length, char byte) const
{
    if (length <= 0)
        return true;
    const off_t start = (m_base + at) / kAlign * kAlign;
    const off_t end = (m_base + at + length + kAlign - 1) / kAlign * kAlign;
    const off_t count = (end - start + kCheckPiece - 1) / kCheckPiece;
    // A small file's read back takes no more memory than its blocks (many small files are
    // read back one after the other).
    const off_t bufferBytes = std::min(kCheckPiece, end - start);
    std::atomic<off_t> next{0};
    std::atomic<bool> differs{false};
    std::atomic<int> failure{0};
    const auto work = [&] {
        void* raw = nullptr;
        if (::posix_memalign(&raw, size_t(kAlign), size_t(bufferBytes)) != 0) {
            failure.store(ENOMEM);
            return;
        }
        const std::unique_ptr<char, FreeMemory> buffer(static_cast<char*>(raw));
        for (off_t index; !differs.load() && !failure.load() && (index = next++) < count;) {
            const off_t from = start + index * kCheckPiece;
            const size_t span = size_t(std::min(kCheckPiece, end - from));
            // The part of the piece inside the stretch, all of it there and all `byte`.
            const off_t first = std::max(from, m_base + at);
            const off_t last = std::min(from + off_t(span), m_base + at + length);
            size_t done = 0;
            while (done < span) {
                const ssize_t n =
                    ::pread(m_fd.get(), buffer.get() + done, span - done, from + off_t(done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    failure.store(errno);
                    return;
                }
                if (n == 0)
                    break;
                done += size_t(n);
                // Short at the end of a file: the rest of the aligned span is not needed.
                if (off_t(done) >= last - from)
                    break;
            }
            const char* bytes = buffer.get() + (first - from);
            const size_t size = size_t(last - first);
            if (off_t(done) < last - from || bytes[0] != byte ||
                std::memcmp(bytes, bytes + 1, size - 1) != 0) {
                differs.store(true);
                return;
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (int i = 1; i < std::min<off_t>(kChecksInFlight, count); ++i)
            helpers.emplace_back(work);
        work();
    }
    if (failure.load() && !differs.load())
        throwError(failure.load(), m_path);
    return !differs.load();
}

bool DirectReader::holds(off_t at, off_t length, char byte) const
{
    return m_runner->blocking([&] { return holdsHere(at, length, byte); });
}

} // namespace ov::fs
