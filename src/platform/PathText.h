#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace ov {

// A path as a person (or a shell) reads it without ambiguity: bare when it holds only
// plain printable text, otherwise in single quotes with control characters and bytes that
// are not UTF-8 written as $'\n' or $'\377', the way `ls` quotes names. What is shown
// always names the real file: pasted into a shell it gives back the exact bytes.
QByteArray quotedPathBytes(const QByteArray& path);
QString quotedPath(const QByteArray& path);

// The path a file URI names on this machine, as bytes: "file:///a%20b" and
// "file://localhost/a%20b" are "/a b", with percent escapes decoded to the bytes they
// stand for (names need not be UTF-8). Nothing for any other URI, a file URI of another
// host included, or one with a bare "?" or "#" (whose name is ambiguous).
std::optional<QByteArray> localPathOfFileUri(const QByteArray& uri);

} // namespace ov
