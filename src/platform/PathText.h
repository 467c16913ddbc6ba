#pragma once

#include <QByteArray>
#include <QString>

namespace ov {

// A path as a person (or a shell) reads it without ambiguity: bare when it holds only
// plain printable text, otherwise in single quotes with control characters and bytes that
// are not UTF-8 written as $'\n' or $'\377', the way `ls` quotes names. What is shown
// always names the real file: pasted into a shell it gives back the exact bytes.
QByteArray quotedPathBytes(const QByteArray& path);
QString quotedPath(const QByteArray& path);

} // namespace ov
