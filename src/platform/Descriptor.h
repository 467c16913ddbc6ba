#pragma once

#include <dirent.h>

namespace ov::fs {

// Owns one open descriptor: a file, a folder, or a folder read as a directory stream.
// Whatever it holds is closed when it goes away.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now; 0, or the error close() reported (a deferred write error, say).
    int close();
    // The folder's entries as a stream, from the start; nothing when it cannot be read.
    DIR* stream();

private:
    void reset();
    int m_fd = -1;
    DIR* m_stream = nullptr;
};

} // namespace ov::fs
