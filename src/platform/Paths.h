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

} // namespace ov
