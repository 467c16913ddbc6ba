#pragma once

#include "platform/Files.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>

namespace ov {

// The free-space run's writes while the end is far: long aligned stretches of filler past
// the page cache, where the volume's file system writes that way. The last of the free space is
// left to the run's buffered writes, which end exactly where a block-by-block run would, at any
// byte.
class FillWriter
{
public:
    // `block` repeats through the file from its first byte on.
    explicit FillWriter(QByteArray block);
    ~FillWriter();
    FillWriter(const FillWriter&) = delete;
    FillWriter& operator=(const FillWriter&) = delete;

    struct Written
    {
        std::int64_t bytes = 0;
        int failure = 0; // errno of the write that failed, or 0
    };
    // Writes most of the `length` bytes of filler due at `size` of `file` (where the next
    // byte is byte `phase` of the block) past the cache, a write at a time while `goOn`
    // says so. Nothing written and no failure: that part is for buffered writes (too near
    // the end, not aligned, or a file system that does not write that way or refused a
    // write, which is then not asked again until release()).
    Written append(const fs::File& file, std::int64_t size, int phase, std::int64_t length,
                   const std::function<bool()>& goOn);
    // Lets go of the memory and of what was learnt about the volume: a run has ended.
    void release();

    // Off: every write buffered.
    void setDirectAllowed(bool allowed) { m_allowed = allowed; }
    // Bytes written past the cache so far.
    std::int64_t directBytes() const { return m_directBytes; }

    // The bytes of one direct write: whole blocks and whole alignment units, so every
    // write begins at the first byte of a block; about 4 MiB, as large as the writes
    // that reach a disk's speed without cluttering the processor's cache.
    std::int64_t pieceBytes() const { return m_pieceBytes; }

private:
    struct FreeAligned
    {
        void operator()(char* memory) const;
    };
    QByteArray m_block;
    std::int64_t m_unitBytes = 0; // the smallest whole number of blocks and of kAlign
    std::int64_t m_pieceBytes = 0;
    std::unique_ptr<char, FreeAligned> m_piece; // one write's filler
    bool m_allowed = true;
    bool m_refused = false;
    std::int64_t m_directBytes = 0;
};

} // namespace ov
