#include "wipe/PathHelpers.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "wipe/WipeTarget.h"

#include <cerrno>

namespace ov {

QByteArray PathPart(const QByteArray& path, int mode)
{
    switch (mode) {
    case 0: {
        qsizetype first = path.indexOf('/');
        return first < 0 ? QByteArray() : path.left(first + 1);
    }
    case 1: {
        qsizetype last = path.lastIndexOf('/');
        if (last < 0)
            throw Error(EINVAL, QStringLiteral("The path names no folder"), path);
        return path.left(last);
    }
    case 2: {
        qsizetype last = path.lastIndexOf('/');
        return last < 0 ? path : path.mid(last + 1);
    }
    case 3: {
        qsizetype dot = path.lastIndexOf('.');
        return dot < 0 ? path : path.mid(dot + 1);
    }
    default:
        return {};
    }
}

QByteArray ScrambleName(WipeTarget& target)
{
    target.env().runner.yield();
    target.renameTo(kScrambledName);
    return target.path();
}

bool FileExists(const QByteArray& path)
{
    if (PathPart(path, 2).startsWith('.'))
        return false;
    try {
        return fs::entryInfo(path).isRegular();
    } catch (const Error&) {
        return false;
    }
}

} // namespace ov
