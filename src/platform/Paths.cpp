#include "platform/Paths.h"

#include <QDir>
#include <QFile>

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace ov {

QByteArray programFolder()
{
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return currentDirectory();
    QByteArray exe(buffer, int(n));
    int slash = exe.lastIndexOf('/');
    if (slash <= 0)
        return "/";
    return exe.left(slash);
}

QByteArray currentDirectory()
{
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd)
        return "/";
    QByteArray result(cwd);
    std::free(cwd);
    return result;
}

QByteArray joinPath(const QByteArray& folder, const QByteArray& name)
{
    if (folder.endsWith('/'))
        return folder + name;
    return folder + '/' + name;
}

bool folderWritable(const QByteArray& folder)
{
    return ::access(folder.constData(), W_OK | X_OK) == 0;
}

QByteArray xdgFolder(const char* name, const char* homeFallback)
{
    QByteArray value = qgetenv(name);
    if (!value.isEmpty() && value.startsWith('/'))
        return value;
    QByteArray home = qgetenv("HOME");
    if (home.isEmpty())
        home = QDir::homePath().toLocal8Bit();
    return joinPath(home, homeFallback);
}

QByteArray dataFolderFor(const QByteArray& folder)
{
    const auto holdsHelp = [](const QByteArray& candidate) {
        return ::access(joinPath(candidate, "help/help.html").constData(), R_OK) == 0;
    };
    if (holdsHelp(folder))
        return folder;
    const QByteArray installed =
        QFile::encodeName(QDir::cleanPath(QFile::decodeName(joinPath(folder, OV_DATA_FROM_BIN))));
    if (holdsHelp(installed))
        return installed;
    return folder;
}

QByteArray dataFolder()
{
    return dataFolderFor(programFolder());
}

bool runsInstalled()
{
    const QByteArray folder = programFolder();
    return dataFolderFor(folder) != folder;
}

bool isSuperUser()
{
    return ::geteuid() == 0;
}

} // namespace ov
