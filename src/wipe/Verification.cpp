#include "wipe/Verification.h"

#include <algorithm>

namespace ov {

namespace {

const QString kCleanFreeSpace = QStringLiteral(
    "clean the volume's free space (Disk Cleaner), which overwrites the blocks that are free");

Verdict make(Verdict::Kind kind, const QString& cause, const QString& detail,
             const QString& advice = {})
{
    return Verdict{kind, cause, detail, advice};
}

// The extents over [0, length) that hold the file's data, cut to that range and with
// neighbours that continue each other on the device joined, so that two maps of the same
// places compare equal however the file system split them.
std::vector<fs::Extent> dataPlaces(const std::vector<fs::Extent>& extents, off_t length)
{
    std::vector<fs::Extent> places;
    for (fs::Extent e : extents) {
        if (e.unwritten() || e.logical >= length)
            continue;
        e.length = std::min(e.length, length - e.logical);
        if (!places.empty()) {
            fs::Extent& last = places.back();
            if (last.logical + last.length == e.logical &&
                last.physical + last.length == e.physical) {
                last.length += e.length;
                continue;
            }
        }
        places.push_back({e.logical, e.physical, e.length, 0});
    }
    return places;
}

} // namespace

QString Verdict::text() const
{
    switch (kind) {
    case Kind::Verified:
        return QStringLiteral("verified on the device");
    case Kind::Overwritten:
        return QStringLiteral("overwritten (") + cause + QLatin1Char(')');
    case Kind::NotReached:
        break;
    }
    return QStringLiteral("not reached (") + cause + QLatin1Char(')');
}

QString Verdict::explained() const
{
    QString line = text();
    if (!detail.isEmpty())
        line += QStringLiteral(": ") + detail;
    if (!advice.isEmpty())
        line += QStringLiteral("; ") + advice;
    return line;
}

void WrittenBytes::record(off_t from, off_t to, char byte)
{
    if (to <= from)
        return;
    // Cut back what the new stretch covers: a stretch reaching into it from before keeps
    // its head, one reaching past its end keeps its tail.
    auto it = m_stretches.lower_bound(from);
    if (it != m_stretches.begin()) {
        auto before = std::prev(it);
        if (before->second.to > from) {
            const Stretch old = before->second;
            before->second.to = from;
            if (old.to > to)
                m_stretches[to] = Stretch{to, old.to, old.byte};
        }
    }
    it = m_stretches.lower_bound(from);
    while (it != m_stretches.end() && it->first < to) {
        const Stretch old = it->second;
        it = m_stretches.erase(it);
        if (old.to > to)
            m_stretches[to] = Stretch{to, old.to, old.byte};
    }
    m_stretches[from] = Stretch{from, to, byte};
}

std::vector<WrittenBytes::Stretch> WrittenBytes::within(off_t from, off_t to) const
{
    std::vector<Stretch> found;
    auto it = m_stretches.upper_bound(from);
    if (it != m_stretches.begin())
        --it;
    for (; it != m_stretches.end() && it->first < to; ++it) {
        const Stretch& s = it->second;
        if (s.to <= from)
            continue;
        const Stretch cut{std::max(s.from, from), std::min(s.to, to), s.byte};
        // Neighbours of one byte are one stretch: it is read back in large reads.
        if (!found.empty() && found.back().to == cut.from && found.back().byte == cut.byte)
            found.back().to = cut.to;
        else
            found.push_back(cut);
    }
    return found;
}

std::optional<Verdict> judgeByExtents(const FileSystemKind& kind,
                                      const std::optional<std::vector<fs::Extent>>& before,
                                      const std::optional<std::vector<fs::Extent>>& after,
                                      off_t length)
{
    using Kind = Verdict::Kind;
    if (kind.writes == WriteKind::MemoryOnly)
        return make(Kind::Overwritten, QStringLiteral("memory only"),
                    writeKindReason(kind) +
                        QStringLiteral(", so nothing reached a disk; only memory that was "
                                       "swapped out may still hold it"));
    if (!before || !after)
        return make(Kind::Overwritten, QStringLiteral("not mappable"),
                    kind.writes == WriteKind::InPlace || kind.writes == WriteKind::Unknown
                        ? QStringLiteral("the file system does not say where the file's bytes lie")
                        : writeKindReason(kind));
    const auto opaque = [](const fs::Extent& e) { return e.opaque(); };
    if (std::any_of(before->begin(), before->end(), opaque) ||
        std::any_of(after->begin(), after->end(), opaque))
        return make(Kind::Overwritten, QStringLiteral("not mappable"),
                    QStringLiteral("the file system keeps some of its bytes compressed, inline "
                                   "or in places it does not tell"));
    if (std::any_of(before->begin(), before->end(), [&](const fs::Extent& e) {
            return e.shared() && !e.unwritten() && e.logical < length;
        }))
        return make(Kind::NotReached, QStringLiteral("shared"),
                    QStringLiteral("other files (reflinked copies, snapshots or deduplicated "
                                   "data) share its blocks and keep the old bytes"),
                    QStringLiteral("remove those copies or snapshots, then ") + kCleanFreeSpace);
    if (dataPlaces(*before, length) != dataPlaces(*after, length)) {
        const QString why =
            kind.writes == WriteKind::CopyOnWrite || kind.writes == WriteKind::LogStructured
                ? writeKindReason(kind)
                : QStringLiteral("the file system wrote it to other blocks");
        return make(Kind::NotReached, QStringLiteral("moved"),
                    why + QStringLiteral("; the old blocks still hold the data"), kCleanFreeSpace);
    }
    return std::nullopt;
}

Verdict verifiedVerdict(const QString& readFrom)
{
    return make(Verdict::Kind::Verified, {}, QStringLiteral("read back from ") + readFrom);
}

Verdict mismatchVerdict(const QString& where)
{
    return make(Verdict::Kind::NotReached, QStringLiteral("not on the device"),
                where + QStringLiteral(" does not hold what was written"),
                QStringLiteral("the disk may remap or cache writes; ") + kCleanFreeSpace);
}

Verdict notReadBackVerdict(const QString& why)
{
    return make(Verdict::Kind::Overwritten, QStringLiteral("not read back"), why);
}

} // namespace ov
