#pragma once

#include <QByteArray>

namespace ov {

// The folder of the running executable, links resolved, without a trailing "/"
// (except for the root itself).
QByteArray programFolder();
// The process's current directory.
QByteArray currentDirectory();
// Joins a folder and a name with one "/" between them.
QByteArray joinPath(const QByteArray& folder, const QByteArray& name);
// True when the folder is there and this user may create files in it.
bool folderWritable(const QByteArray& folder);
// $NAME when set and absolute, else $HOME followed by fallback (".config", ...).
QByteArray xdgFolder(const char* name, const char* homeFallback);

// The folder holding the help page and the artwork: the program's folder when they are
// beside the executable (the build tree, or a folder the program has to itself), else the
// installation's share/ombrevault, found from the executable's bin folder so that any
// prefix works. Without either, the program's folder, where the page would be missing.
QByteArray dataFolder();
// The same, for an executable in `folder` (a test's stand-in for the program's folder).
QByteArray dataFolderFor(const QByteArray& folder);
// True when the program runs from an installation: its data lives apart from it, and
// its own folder (/usr/bin) is no place for anything the program writes.
bool runsInstalled();
// True for the superuser.
bool isSuperUser();

} // namespace ov
