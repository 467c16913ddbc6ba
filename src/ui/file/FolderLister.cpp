#include "ui/file/FolderLister.h"

#include "platform/Files.h"

#include <algorithm>

namespace ov {

namespace {

// Name order as a person expects it: letters without regard to case, then bytes.
bool nameLess(const QByteArray& a, const QByteArray& b)
{
    const int folded = qstricmp(a.constData(), b.constData());
    if (folded != 0)
        return folded < 0;
    return a < b;
}

} // namespace

void FolderLister::Refresh(BlockingRunner& runner)
{
    m_names.clear();
    const fs::Folder folder = fs::Folder::open(m_path.isEmpty() ? QByteArray(".") : m_path, runner);
    std::vector<QByteArray> names;
    for (QByteArray& name : folder.names()) {
        if (name.startsWith('.'))
            continue;
        const std::optional<fs::EntryInfo> info = folder.lookAt(name);
        // Gone since it was listed, or not a regular file.
        if (info && info->isRegular())
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), nameLess);
    m_names = std::move(names);
}

} // namespace ov
