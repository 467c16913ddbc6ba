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

} // namespace ov::test
