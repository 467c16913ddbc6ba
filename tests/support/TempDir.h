#pragma once

#include <QByteArray>
#include <QTemporaryDir>

namespace ov::test {

// A temporary folder for one test, removed with everything in it afterwards.
class TempDir
{
public:
    TempDir();
    // An optional parent folder (a mounted test volume, say).
    explicit TempDir(const QByteArray& parent);
    QByteArray path() const;
    QByteArray file(const char* name) const;
    QByteArray file(const QByteArray& name) const;

private:
    QTemporaryDir m_dir;
};

void writeFile(const QByteArray& path, const QByteArray& content);
QByteArray readFile(const QByteArray& path);
// Whether a name exists (links not followed).
bool exists(const QByteArray& path);
// How often needle occurs in the file, read in pieces (for large disk images).
long long countOccurrences(const QByteArray& path, const QByteArray& needle);
bool runningAsRoot();

// Folders nested one inside the other below `top` (which must exist), deeper than a path
// can name: `depth` folders of `nameLength`-byte names. Made and filled through held
// folders; removed with whatever is left of them when it goes.
class DeepTree
{
public:
    DeepTree(QByteArray top, int depth, int nameLength);
    ~DeepTree();
    DeepTree(const DeepTree&) = delete;
    DeepTree& operator=(const DeepTree&) = delete;
    // The path of the folder at a level (0 is top itself).
    QByteArray folder(int level) const;
    void writeFile(int level, const QByteArray& name, const QByteArray& content) const;
    QByteArray readFile(int level, const QByteArray& name) const;

private:
    // An open descriptor of the folder at a level.
    int open(int level) const;
    QByteArray m_top, m_name;
    int m_depth;
};

} // namespace ov::test
