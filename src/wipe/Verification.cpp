#include "wipe/Verification.h"

#include <algorithm>
#include <cstdio>

namespace ov {

namespace {

const QString kCleanFreeSpace = QStringLiteral(
    "clean the volume's free space (Disk Cleaner), which overwrites the blocks that are free");

const QString kSmallElsewhere =
    QStringLiteral("keep such files on an encrypted volume, or on one that overwrites in place");

Verdict make(Verdict::Kind kind, const QString& cause, const QString& detail,
             const QString& advice = {}, Verdict::Layer layer = Verdict::Layer::FileSystem)
{
    Verdict verdict;
    verdict.kind = kind;
    verdict.cause = cause;
    verdict.detail = detail;
    verdict.advice = advice;
    verdict.layer = layer;
    return verdict;
}

QString nameOf(const FileSystemKind& kind)
{
    return kind.name.isEmpty() ? QStringLiteral("the file system") : QString::fromLatin1(kind.name);
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

// Whether every place that held the file's data before still holds it after. Places that
// were holes before may hold data now (a level that fills holes): that is new data, not
// data moved.
bool samePlaces(const std::vector<fs::Extent>& before, const std::vector<fs::Extent>& after,
                off_t length)
{
    const std::vector<fs::Extent> now = dataPlaces(after, length);
    for (const fs::Extent& was : dataPlaces(before, length)) {
        const off_t end = was.logical + was.length;
        for (off_t at = was.logical; at < end;) {
            const auto holding = std::find_if(now.begin(), now.end(), [&](const fs::Extent& e) {
                return e.logical <= at && at < e.logical + e.length;
            });
            if (holding == now.end() ||
                holding->physical - holding->logical != was.physical - was.logical)
                return false;
            at = std::min(end, holding->logical + holding->length);
        }
    }
    return true;
}

// A JSON string of bytes that are meant to be UTF-8; a byte that is not stands for itself
// as U+DC80..U+DCFF, as Python's surrogateescape reads it back.
void appendJsonString(QByteArray& out, const QByteArray& bytes)
{
    out += '"';
    auto escape = [&](unsigned code) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
        out += buffer;
    };
    for (qsizetype i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length > 1 && i + length <= bytes.size()) {
            const QByteArray piece = bytes.mid(i, length);
            if (QString::fromUtf8(piece).toUtf8() != piece)
                length = 0;
        } else if (length > 1) {
            length = 0;
        }
        if (length == 0) {
            escape(0xdc00 + c);
            ++i;
        } else if (length > 1) {
            out += bytes.mid(i, length);
            i += length;
        } else {
            if (c == '"' || c == '\\')
                out += '\\', out += char(c);
            else if (c < 0x20 || c == 0x7f)
                escape(c);
            else
                out += char(c);
            ++i;
        }
    }
    out += '"';
}

} // namespace

QString Verdict::text() const
{
    switch (kind) {
    case Kind::Verified:
        return QStringLiteral("verified on the device");
    case Kind::Overwritten:
        return QStringLiteral("overwritten (") + cause + QLatin1Char(')');
    case Kind::NotProved:
        return QStringLiteral("not proved (") + cause + QLatin1Char(')');
    case Kind::NotReached:
        break;
    }
    return QStringLiteral("not reached (") + cause + QLatin1Char(')');
}

QString Verdict::kindName() const
{
    switch (kind) {
    case Kind::Verified:
        return QStringLiteral("verified");
    case Kind::Overwritten:
        return QStringLiteral("overwritten");
    case Kind::NotProved:
        return QStringLiteral("not-proved");
    case Kind::NotReached:
        break;
    }
    return QStringLiteral("not-reached");
}

QString Verdict::layerName() const
{
    switch (layer) {
    case Layer::FileSystem:
        return QStringLiteral("file system");
    case Layer::Stacking:
        return QStringLiteral("stacking");
    case Layer::Device:
        break;
    }
    return QStringLiteral("device");
}

QByteArray Verdict::json(const QByteArray& path) const
{
    QByteArray out = "{\"path\":";
    appendJsonString(out, path);
    out += destroyed() ? ",\"destroyed\":true" : ",\"destroyed\":false";
    const std::pair<const char*, QString> fields[] = {
        {"verdict", text()}, {"kind", kindName()}, {"layer", layerName()}, {"cause", cause},
        {"reason", detail},  {"advice", advice},   {"caveat", caveat},
    };
    for (const auto& [name, value] : fields) {
        out += ",\"" + QByteArray(name) + "\":";
        appendJsonString(out, value.toUtf8());
    }
    return out + '}';
}

QByteArray failureJson(const QByteArray& path, const QString& reason)
{
    QByteArray out = "{\"path\":";
    appendJsonString(out, path);
    out += ",\"destroyed\":false,\"verdict\":\"failed\",\"kind\":\"failed\",\"reason\":";
    appendJsonString(out, reason.toUtf8());
    return out + '}';
}

QString Verdict::explained() const
{
    // Which layer between the name and the medium decided it.
    QString line = text() + QStringLiteral(", ") + layerName() + QStringLiteral(" layer");
    if (!detail.isEmpty())
        line += QStringLiteral(": ") + detail;
    if (!advice.isEmpty())
        line += QStringLiteral("; ") + advice;
    if (!caveat.isEmpty())
        line += QStringLiteral("; ") + caveat;
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

std::optional<Verdict> judgeByExtents(const Reach& reach,
                                      const std::optional<std::vector<fs::Extent>>& before,
                                      const std::optional<std::vector<fs::Extent>>& after,
                                      off_t length)
{
    using Kind = Verdict::Kind;
    const FileSystemKind& kind = reach.kind;
    const QString name = nameOf(kind);
    switch (kind.writes) {
    case WriteKind::MemoryOnly:
        return make(Kind::Overwritten, QStringLiteral("memory only"),
                    writeKindReason(kind) +
                        QStringLiteral(", so nothing reached a disk; only memory that was "
                                       "swapped out may still hold it"));
    case WriteKind::Remote:
        // What the server does with the old bytes is beyond this machine: told, and the
        // overwrite counts.
        return make(Kind::Overwritten, QStringLiteral("beyond this machine"),
                    writeKindReason(kind) +
                        QStringLiteral("; only the server or daemon knows whether the old "
                                       "bytes were overwritten where they lie"),
                    {}, Verdict::Layer::Stacking);
    case WriteKind::Unknown:
    case WriteKind::KernelInterface:
        return make(Kind::NotProved, QStringLiteral("file system not known"), writeKindReason(kind),
                    QStringLiteral("destroy it on a volume whose file system is known, or "
                                   "encrypt the volume"));
    case WriteKind::InPlace:
    case WriteKind::CopyOnWrite:
    case WriteKind::LogStructured:
        break;
    }
    const bool copies = kind.writes != WriteKind::InPlace;
    if (reach.journalsData)
        return make(Kind::NotReached, QStringLiteral("journal"),
                    name + QStringLiteral(" writes this file's data through its journal "
                                          "(data=journal), which keeps copies of the old bytes "
                                          "until later writes cycle through it"),
                    QStringLiteral("write more than the journal's size to the volume (clean its "
                                   "free space), and keep such files off volumes mounted with "
                                   "data=journal"));
    if (!before || !after) {
        if (copies)
            return make(Kind::NotReached, QStringLiteral("copy-on-write"), writeKindReason(kind),
                        kCleanFreeSpace);
        return make(Kind::NotProved, QStringLiteral("not mappable"),
                    name + QStringLiteral(" does not say where the file's bytes lie"),
                    QStringLiteral("clean the volume's free space, or encrypt the volume"));
    }
    auto any = [&](auto test) {
        return std::any_of(before->begin(), before->end(), test) ||
               std::any_of(after->begin(), after->end(), test);
    };
    if (any([](const fs::Extent& e) { return e.inlineData(); })) {
        if (copies)
            return make(Kind::NotReached, QStringLiteral("inline"),
                        name + QStringLiteral(" keeps this small file inside its metadata, which "
                                              "is copied anew on every change; the old copies "
                                              "stay in released metadata blocks"),
                        kSmallElsewhere);
        return make(Kind::NotReached, QStringLiteral("inline"),
                    name + QStringLiteral(" keeps this small file inside its inode, and every "
                                          "change of it goes through the journal, which keeps "
                                          "copies of the old bytes"),
                    kSmallElsewhere);
    }
    if (any([](const fs::Extent& e) { return e.encoded(); }) ||
        (copies && reach.compressed && !reach.noCow))
        return make(Kind::NotReached, QStringLiteral("compressed"),
                    name + QStringLiteral(" keeps the file compressed and writes every change "
                                          "to new blocks; the old ones still hold the data"),
                    kCleanFreeSpace);
    if (std::any_of(before->begin(), before->end(), [&](const fs::Extent& e) {
            return e.shared() && !e.unwritten() && e.logical < length;
        }))
        return make(Kind::NotReached, QStringLiteral("shared"),
                    QStringLiteral("other files (reflinked copies, snapshots or deduplicated "
                                   "data) share its blocks and keep the old bytes"),
                    QStringLiteral("remove those copies or snapshots, then ") + kCleanFreeSpace);
    if (!samePlaces(*before, *after, length)) {
        const QString why = copies ? writeKindReason(kind)
                                   : QStringLiteral("the file system wrote it to other blocks");
        return make(Kind::NotReached, QStringLiteral("moved"),
                    why + QStringLiteral("; the old blocks still hold the data"), kCleanFreeSpace);
    }
    // Copy-on-write overwrites in place only a file marked so: unchanged places alone
    // prove nothing otherwise.
    if (copies && !reach.noCow)
        return make(Kind::NotReached, QStringLiteral("copy-on-write"),
                    writeKindReason(kind) +
                        QStringLiteral(", and the file is not marked to be overwritten in place"),
                    kCleanFreeSpace);
    if (any([](const fs::Extent& e) { return e.opaque(); }))
        return make(Kind::NotProved, QStringLiteral("not mappable"),
                    name + QStringLiteral(" keeps some of the file's bytes in places it does "
                                          "not tell"),
                    QStringLiteral("clean the volume's free space, or encrypt the volume"));
    return std::nullopt;
}

Verdict verifiedVerdict(const QString& readFrom)
{
    return make(Verdict::Kind::Verified, {}, QStringLiteral("read back from ") + readFrom, {},
                Verdict::Layer::Device);
}

Verdict mismatchVerdict(const QString& where)
{
    return make(Verdict::Kind::NotReached, QStringLiteral("not on the device"),
                where + QStringLiteral(" does not hold what was written"),
                QStringLiteral("the disk may remap or cache writes; ") + kCleanFreeSpace,
                Verdict::Layer::Device);
}

Verdict notReadBackVerdict(const QString& why)
{
    return make(Verdict::Kind::NotProved, QStringLiteral("not read back"), why,
                QStringLiteral("run it as a user who may read the volume's device, or clean "
                               "the volume's free space"),
                Verdict::Layer::Device);
}

Verdict readBackLeftOutVerdict()
{
    return make(Verdict::Kind::Overwritten, QStringLiteral("not read back"),
                QStringLiteral("reading back was left out as asked"), {}, Verdict::Layer::Device);
}

} // namespace ov
