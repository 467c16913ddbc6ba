#pragma once

#include "platform/BlockingRunner.h"

#include <QByteArray>

namespace ov {

// Pieces of a path: 0 up to and including the first "/", 1 the folder before the last
// "/" (fails on a path without one), 2 the name after the last "/", 3 the text after the
// last "." (the whole path without one); any other mode gives "".
QByteArray PathPart(const QByteArray& path, int mode);

class WipeTarget;

// Renames the held file to "ovlxx.ovl" in its own folder, never replacing an existing
// file of that name, and returns the new path.
QByteArray ScrambleName(WipeTarget& target);

// A regular file (not a link, folder or device) whose name does not begin with ".".
bool FileExists(const QByteArray& path);

inline constexpr char kScrambledName[] = "ovlxx.ovl";

} // namespace ov
