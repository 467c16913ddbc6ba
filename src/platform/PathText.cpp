#include "platform/PathText.h"

namespace ov {

namespace {

// Length of the valid, printable UTF-8 sequence at `at`, or 0 when the bytes there are a
// control character, a C1 control or not UTF-8 at all.
int printableLength(const QByteArray& text, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(text.at(i)); };
    const unsigned char first = byte(at);
    if (first < 0x80)
        return first >= 0x20 && first != 0x7f ? 1 : 0;
    int length = 0;
    char32_t code = 0;
    if ((first & 0xe0) == 0xc0) {
        length = 2;
        code = first & 0x1f;
    } else if ((first & 0xf0) == 0xe0) {
        length = 3;
        code = first & 0x0f;
    } else if ((first & 0xf8) == 0xf0) {
        length = 4;
        code = first & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3f);
    }
    static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid =
        code >= least[length] && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
    const bool c1Control = code >= 0x80 && code < 0xa0;
    return valid && !c1Control ? length : 0;
}

// Characters a shell would act on; "#" and "~" only at the start, "{" and "}" alone.
bool shellSpecial(const QByteArray& text, qsizetype at)
{
    const char c = text.at(at);
    switch (c) {
    case '#':
    case '~':
        return at == 0;
    case '{':
    case '}':
        return text.size() == 1;
    case ' ':
    case '\t':
    case '!':
    case '"':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '[':
    case '\\':
    case '^':
    case '`':
    case '|':
        return true;
    default:
        return false;
    }
}

QByteArray escapeSequence(unsigned char byte)
{
    switch (byte) {
    case '\a':
        return "\\a";
    case '\b':
        return "\\b";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\v':
        return "\\v";
    case '\f':
        return "\\f";
    case '\r':
        return "\\r";
    default:
        return '\\' + QByteArray::number(byte, 8).rightJustified(3, '0');
    }
}

} // namespace

QByteArray quotedPathBytes(const QByteArray& path)
{
    if (path.isEmpty())
        return "''";
    bool plain = true;
    bool escapes = false;
    bool singleQuote = false;
    bool doubleQuoteSafe = true; // nothing a shell expands inside "..."
    for (qsizetype at = 0; at < path.size();) {
        const int length = printableLength(path, at);
        if (length == 0) {
            escapes = true;
            plain = false;
            ++at;
            continue;
        }
        if (length == 1) {
            const char c = path.at(at);
            if (shellSpecial(path, at))
                plain = false;
            if (c == '\'')
                singleQuote = true;
            if (c == '"' || c == '$' || c == '\\' || c == '`' || c == '!')
                doubleQuoteSafe = false;
        }
        at += length;
    }
    if (plain)
        return path;
    if (singleQuote && !escapes && doubleQuoteSafe)
        return '"' + path + '"';

    QByteArray out = "'";
    bool inEscape = false;
    for (qsizetype at = 0; at < path.size();) {
        const int length = printableLength(path, at);
        if (length == 0) {
            if (!inEscape)
                out += "'$'";
            inEscape = true;
            out += escapeSequence(static_cast<unsigned char>(path.at(at)));
            ++at;
            continue;
        }
        if (inEscape) {
            out += "''";
            inEscape = false;
        }
        if (path.at(at) == '\'')
            out += "'\\''";
        else
            out += path.mid(at, length);
        at += length;
    }
    // After an escape the $'...' is closed by this quote, with no empty pair behind it.
    out += '\'';
    return out;
}

QString quotedPath(const QByteArray& path)
{
    // Every byte that is not UTF-8 was escaped, so this decoding loses nothing.
    return QString::fromUtf8(quotedPathBytes(path));
}

std::optional<QByteArray> localPathOfFileUri(const QByteArray& uri)
{
    static const QByteArray scheme = "file://";
    if (uri.size() < scheme.size() ||
        qstrnicmp(uri.constData(), scheme.constData(), scheme.size()) != 0)
        return std::nullopt;
    const qsizetype slash = uri.indexOf('/', scheme.size());
    if (slash < 0)
        return std::nullopt;
    const QByteArray host = uri.mid(scheme.size(), slash - scheme.size());
    if (!host.isEmpty() && host.toLower() != "localhost")
        return std::nullopt;
    // A file manager escapes "?" and "#" in a name; a bare one is a query or fragment,
    // and dropping it could name another file, so such a URI names no file.
    if (uri.indexOf('?', slash) >= 0 || uri.indexOf('#', slash) >= 0)
        return std::nullopt;
    return QByteArray::fromPercentEncoding(uri.mid(slash));
}

} // namespace ov
