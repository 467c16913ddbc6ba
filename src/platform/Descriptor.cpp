#include "platform/Descriptor.h"

#include <cerrno>
#include <unistd.h>

namespace ov::fs {

Descriptor::Descriptor(Descriptor&& other) noexcept : m_fd(other.m_fd), m_stream(other.m_stream)
{
    other.m_fd = -1;
    other.m_stream = nullptr;
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = other.m_fd;
        m_stream = other.m_stream;
        other.m_fd = -1;
        other.m_stream = nullptr;
    }
    return *this;
}

Descriptor::~Descriptor()
{
    reset();
}

void Descriptor::reset()
{
    close();
}

int Descriptor::close()
{
    int failure = 0;
    if (m_stream) {
        // The stream owns the descriptor.
        if (::closedir(m_stream) != 0)
            failure = errno;
    } else if (m_fd >= 0) {
        // EINTR still releases the descriptor on Linux.
        if (::close(m_fd) != 0 && errno != EINTR)
            failure = errno;
    }
    m_stream = nullptr;
    m_fd = -1;
    return failure;
}

DIR* Descriptor::stream()
{
    if (m_fd < 0)
        return nullptr;
    if (!m_stream) {
        m_stream = ::fdopendir(m_fd);
        if (!m_stream)
            return nullptr;
    }
    ::rewinddir(m_stream);
    return m_stream;
}

} // namespace ov::fs
