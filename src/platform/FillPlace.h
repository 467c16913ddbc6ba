#pragma once

#include "platform/Descriptor.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

// Where on a volume a free-space run may put its filler, and the one run at a time there.
namespace ov::fillplace {

// The volume's top folder when this user may write in it; otherwise the first of the
// user's own folders (home, current folder, /var/tmp, /tmp) that lies on that volume and
// takes new files. Empty when there is none.
QByteArray writableFolderOn(const QByteArray& mountPoint);
// For paths just deleted: the nearest folder still there above each, one per volume, in
// the order first met.
std::vector<QByteArray> oneFolderPerVolume(const std::vector<QByteArray>& paths);
// Whether the folder lies on the file system mounted at mountPoint.
bool onVolume(const QByteArray& folder, const QByteArray& mountPoint);

// Held by a run for its whole length: a second run on the same volume, from whatever
// folder, is refused, named by the first run's process and program. Released when it
// goes. Where the volume's top folder cannot be locked, a lock file in the folder
// refuses a second run with the same folder.
class RunLock
{
public:
    static constexpr char kName[] = ".ovtempx.lock";
    // The lock of the volume that holds `folder` (with `wholeVolume`), else of the folder
    // itself. Throws Error (EBUSY) naming the run that holds it.
    static RunLock take(const QByteArray& folder, bool wholeVolume);
    RunLock(RunLock&&) noexcept = default;
    RunLock& operator=(RunLock&&) noexcept = default;
    ~RunLock();

private:
    RunLock(fs::Descriptor fd, QByteArray path) : m_fd(std::move(fd)), m_path(std::move(path)) {}
    fs::Descriptor m_fd;
    QByteArray m_path;
};

// The filler files ("ovtempx*.dat") of a run that never ended, in the folder.
struct Leftover
{
    QByteArray path;
    std::int64_t size = 0;
};
std::vector<Leftover> leftoverFillers(const QByteArray& folder);

} // namespace ov::fillplace
