#include "cli/TreeWalk.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace ov::cli {

namespace {

// The path without the slashes at its end ("/" stays).
QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

Error notEntered(const QByteArray& path)
{
    return Error(
        EXDEV, QStringLiteral("Is on another file system; not entered (--one-file-system)"), path);
}

bool removableByName(const fs::EntryInfo& info)
{
    return S_ISLNK(info.mode) || S_ISFIFO(info.mode) || S_ISSOCK(info.mode);
}

} // namespace

void TreeWalk::checkStop() const
{
    if (m_stop.requested())
        throw Error(ECANCELED, QStringLiteral("Stopped"));
}

template <class Step> bool TreeWalk::attempt(Step&& step)
{
    try {
        step();
        return true;
    } catch (const Error& error) {
        if (error.code() == ECANCELED)
            throw;
        m_visitor.failed(error);
        return false;
    }
}

void TreeWalk::walk(const QByteArray& named)
{
    checkStop();
    // Only a blank word is not a whole path: it names nothing to walk.
    if (!m_rules.recursive || !named.startsWith('/')) {
        attempt([&] { m_visitor.namedFile(named); });
        return;
    }
    attempt([&] {
        const QByteArray path = withoutTrailingSlashes(named);
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray name = path.mid(slash + 1);
        if (path == "/" || name == "." || name == "..")
            throw Error(EINVAL,
                        QStringLiteral("Refused: it names the root folder, a folder itself "
                                       "(\".\") or its parent (\"..\")"),
                        named);
        std::optional<fs::Folder> parent;
        try {
            parent.emplace(fs::Folder::open(slash == 0 ? "/" : path.left(slash), m_runner));
        } catch (const Error& error) {
            throw Error(error.code(), error.message(), named);
        }
        const std::optional<fs::EntryInfo> look = parent->lookAt(name);
        if (!look || !look->isFolder()) {
            m_visitor.namedFile(named);
            return;
        }
        if (walkFolder(parent, name, look->id.device))
            m_visitor.emptied(*parent, name);
    });
}

bool TreeWalk::walkFolder(std::optional<fs::Folder>& parent, const QByteArray& name, dev_t device)
{
    std::optional<fs::Folder> folder;
    std::vector<QByteArray> names;
    const bool opened = attempt([&] {
        folder.emplace(parent->openFolder(name));
        // Looked at before it was opened too; this catches a mount made in between.
        if (m_rules.oneFileSystem && folder->identity().device != device)
            throw notEntered(folder->path());
        names = folder->names();
    });
    if (!opened)
        return false;
    const QByteArray parentPath = parent->path();
    const fs::Identity parentId = parent->identity();
    parent.reset();
    const bool complete = walkEntries(folder, std::move(names), device);
    attempt([&] { parent.emplace(takeBack(folder, parentPath, parentId)); });
    return complete && parent.has_value();
}

bool TreeWalk::walkEntries(std::optional<fs::Folder>& folder, std::vector<QByteArray> names,
                           dev_t device)
{
    std::sort(names.begin(), names.end());
    bool complete = true;
    for (const QByteArray& entry : names) {
        checkStop();
        // Lost on the way back from below: reported there; nothing more is done here.
        if (!folder)
            return false;
        bool gone = true;
        complete &= attempt([&] {
            const std::optional<fs::EntryInfo> look = folder->lookAt(entry);
            if (!look)
                return; // gone meanwhile
            if (look->isFolder()) {
                if (m_rules.oneFileSystem && look->id.device != device)
                    throw notEntered(folder->pathOf(entry));
                // What failed inside has been reported there; the folder stays.
                gone = walkFolder(folder, entry, device);
                if (gone)
                    m_visitor.emptied(*folder, entry);
            } else if (look->isRegular()) {
                m_visitor.file(*folder, entry, *look);
            } else if (removableByName(*look)) {
                m_visitor.special(*folder, entry, *look);
            } else {
                // A device node: writing there would reach a disk or a driver.
                const QByteArray path = folder->pathOf(entry);
                throw Error(EINVAL,
                            fs::notRegular(path, look->mode).message() +
                                QStringLiteral("; it is left alone"),
                            path);
            }
        });
        complete &= gone;
    }
    return complete;
}

fs::Folder TreeWalk::takeBack(const std::optional<fs::Folder>& below, const QByteArray& path,
                              fs::Identity id)
{
    const Error moved(EAGAIN,
                      QStringLiteral("Was moved while the folders in it were being destroyed; "
                                     "what is left in it is left alone"),
                      path);
    bool elsewhere = false;
    if (below) {
        try {
            if (std::optional<fs::Folder> up = below->openParent(path, id))
                return std::move(*up);
            elsewhere = true;
        } catch (const Error&) {
            // The path may still lead to it.
        }
    }
    std::optional<fs::Folder> again;
    try {
        again.emplace(fs::Folder::open(path, m_runner));
    } catch (const Error&) {
        // Nothing at its place because it was moved: that is the reason to tell.
        if (elsewhere)
            throw moved;
        throw;
    }
    if (again->identity() != id)
        throw moved;
    return std::move(*again);
}

} // namespace ov::cli
