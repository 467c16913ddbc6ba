#pragma once

#include "platform/BlockingRunner.h"

#include <QByteArray>

#include <vector>

namespace ov {

// The hidden file list that Add Folder reads a folder with: the regular files directly
// in the folder whose names do not begin with "." (no folders, links or devices),
// sorted by name, as bare names.
class FolderLister
{
public:
    void setPath(const QByteArray& folder) { m_path = folder; }
    const QByteArray& path() const { return m_path; }

    // Reads the folder afresh, off the interface thread; throws Error when it cannot be
    // read.
    void Refresh(BlockingRunner& runner);
    int listCount() const { return int(m_names.size()); }
    const QByteArray& List(int index) const { return m_names[size_t(index)]; }

private:
    QByteArray m_path;
    std::vector<QByteArray> m_names;
};

} // namespace ov
