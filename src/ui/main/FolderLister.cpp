#include "ui/main/FolderLister.h"

#include "platform/Error.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace ov {

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Name order as a person expects it: letters without regard to case, then bytes.
bool nameLess(const QByteArray& a, const QByteArray& b)
{
    const int folded = qstricmp(a.constData(), b.constData());
    if (folded != 0)
        return folded < 0;
    return a < b;
}

} // namespace

void FolderLister::Refresh()
{
    m_names.clear();
    std::unique_ptr<DIR, DirCloser> dir(::opendir(m_path.isEmpty() ? "." : m_path.constData()));
    if (!dir)
        throwErrno(m_path);
    const int dirFd = ::dirfd(dir.get());
    std::vector<QByteArray> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                throwErrno(m_path);
            break;
        }
        if (entry->d_name[0] == '.')
            continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone since it was listed
        if (S_ISREG(st.st_mode))
            names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end(), nameLess);
    m_names = std::move(names);
}

} // namespace ov
