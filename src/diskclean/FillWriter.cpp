#include "diskclean/FillWriter.h"

#include "platform/DirectWriter.h"

#include <cstring>
#include <new>
#include <numeric>

namespace ov {

namespace {

constexpr std::int64_t kAlign = fs::DirectWriter::kAlign;
constexpr std::int64_t kPieceTarget = 4 << 20;

} // namespace

void FillWriter::FreeAligned::operator()(char* memory) const
{
    ::operator delete[](memory, std::align_val_t(kAlign));
}

FillWriter::FillWriter(QByteArray block) : m_block(std::move(block))
{
    m_unitBytes = std::lcm<std::int64_t>(m_block.size(), kAlign);
    m_pieceBytes = std::max<std::int64_t>(1, kPieceTarget / m_unitBytes) * m_unitBytes;
}

FillWriter::~FillWriter() = default;

void FillWriter::release()
{
    m_piece.reset();
    m_refused = false;
}

FillWriter::Written FillWriter::append(const fs::File& file, std::int64_t size, int phase,
                                       std::int64_t length, const std::function<bool()>& goOn)
{
    Written written;
    // Whole units only, from a whole unit on: the file then ends at a whole block after
    // every stretch, as the cycle rules count it.
    const std::int64_t stretch = length / m_unitBytes * m_unitBytes;
    // Near the end a cycle is small; a stretch shorter than a few writes gains nothing.
    if (!m_allowed || m_refused || phase != 0 || size % kAlign != 0 || stretch < 2 * m_pieceBytes)
        return written;
    std::optional<fs::DirectWriter> writer = fs::DirectWriter::forFile(file);
    if (!writer) {
        m_refused = true;
        return written;
    }
    if (!m_piece) {
        m_piece.reset(
            static_cast<char*>(::operator new[](size_t(m_pieceBytes), std::align_val_t(kAlign))));
        for (std::int64_t at = 0; at < m_pieceBytes; at += m_block.size())
            std::memcpy(m_piece.get() + at, m_block.constData(), size_t(m_block.size()));
    }
    const fs::DirectWriter::Outcome outcome =
        writer->write(size, stretch, m_piece.get(), m_pieceBytes, goOn);
    m_refused = outcome.refused;
    m_directBytes += outcome.written;
    written.bytes = outcome.written;
    written.failure = outcome.failure;
    return written;
}

} // namespace ov
