#include "wipe/WipeBatch.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Together.h"
#include "wipe/WipeMethods.h"

#include <cerrno>
#include <limits>
#include <set>

namespace ov {

namespace {

// Each file holds three descriptors (its folder, its entry and itself) until the batch is
// over; a volume flush serves every file of the batch, so the more the better, where the
// descriptors are to be had.
size_t mostFiles()
{
    static const size_t most = fs::descriptorLimit() >= 8192 ? 1000 : 200;
    return most;
}
constexpr off_t kMostBytes = off_t(64) << 20;

bool touchedAtAll(const WipeTarget& target)
{
    return !target.written().within(0, std::numeric_limits<off_t>::max()).empty();
}

// A small file's read back, and the last close of a deleted one (which frees its blocks,
// with a discard each on some volumes), are each one wait on the disk: several files'
// waits overlap.
constexpr size_t kWaitsTogether = 8;

} // namespace

WipeTarget::Rules WipeBatch::rules() const
{
    WipeTarget::Rules rules = wipeRules(WipeLevel::Least, true, m_env);
    rules.volumeFlush = true;
    return rules;
}

void WipeBatch::add(const QByteArray& path)
{
    m_files.push_back(File{WipeTarget::prepare(path, rules(), m_env), path, {}, false});
    m_bytes += m_files.back().target.initialLength();
}

void WipeBatch::add(const fs::Folder& folder, const QByteArray& name)
{
    m_files.push_back(File{WipeTarget::prepareIn(folder.duplicate(), name, rules(), m_env),
                           folder.pathOf(name),
                           {},
                           false});
    m_bytes += m_files.back().target.initialLength();
}

void WipeBatch::clear()
{
    m_files.clear();
    m_bytes = 0;
}

bool WipeBatch::full() const
{
    return m_files.size() >= mostFiles() || m_bytes >= kMostBytes;
}

bool WipeBatch::holdsBelow(const QByteArray& folderPath) const
{
    const QByteArray prefix = folderPath.endsWith('/') ? folderPath : folderPath + '/';
    for (const File& file : m_files) {
        if (file.path.startsWith(prefix))
            return true;
    }
    return false;
}

void WipeBatch::flushVolumes(std::vector<File>& files)
{
    std::set<dev_t> flushed;
    for (const File& file : files) {
        const fs::Folder& folder = file.target.folder();
        if (!flushed.insert(folder.identity().device).second)
            continue;
        try {
            folder.syncVolume();
        } catch (const Error& error) {
            // The volume cannot tell whose writes failed: none of its files is known to
            // be overwritten on the disk.
            for (File& other : files) {
                if (!other.failure &&
                    other.target.folder().identity().device == folder.identity().device)
                    other.failure = Error(error.code(),
                                          QStringLiteral("The volume reported a write error "
                                                         "while it was flushed: ") +
                                              error.message(),
                                          other.path);
            }
        }
    }
}

std::vector<WipeBatch::Result> WipeBatch::run(const std::function<void(const QByteArray&)>& inHand)
{
    std::vector<File> files = std::move(m_files);
    m_files.clear();
    m_bytes = 0;

    for (File& file : files) {
        try {
            if (file.target.rules().giveOwnerWrite)
                file.target.makeOwnerWritable();
        } catch (const Error& error) {
            file.failure = error;
        }
    }
    // Pass by pass over every file; each pass is on the disk before the next begins. A
    // file that fails is left out of the passes after; a stop ends them all.
    // Each pass over the whole batch, with its flush, is one hand-off to the worker.
    bool stopped = false;
    for (int pass = 0; pass < kLeastPasses && !stopped; ++pass) {
        m_env.runner.runBlocking([&] {
            for (File& file : files) {
                if (file.failure)
                    continue;
                // A stop after the files in hand: those not begun are left untouched.
                if (pass == 0 && m_env.stop.requested()) {
                    file.failure = Error(ECANCELED, QStringLiteral("Stopped before it was touched"),
                                         file.path);
                    continue;
                }
                if (inHand)
                    inHand(file.path);
                try {
                    leastPass(file.target, pass);
                } catch (const Error& error) {
                    file.failure = error;
                    if (error.code() == ECANCELED) {
                        stopped = true;
                        break;
                    }
                }
            }
            // Also after a failure or a stop: what was written reaches the disk.
            flushVolumes(files);
        });
    }

    // The same ending as a single wipe: its verdict, then the delete; the deletes are on
    // the disk with the next flush of the volume.
    std::vector<std::optional<WipeOutcome>> outcomes(files.size());
    // The files of a volume are read back through one opening of its device.
    DeviceReaders readers;
    m_env.runner.runBlocking([&] {
        std::vector<WipeTarget*> reading;
        for (File& file : files) {
            if (stopped && !file.failure)
                file.failure = Error(ECANCELED,
                                     touchedAtAll(file.target)
                                         ? QStringLiteral("Stopped before it was destroyed; it "
                                                          "is part-overwritten")
                                         : QStringLiteral("Stopped before it was touched"),
                                     file.path);
            if (file.failure)
                continue;
            try {
                file.target.readBackThrough(readers);
                file.target.beginConclusion();
                reading.push_back(&file.target);
            } catch (const Error& error) {
                file.failure = error;
            }
        }
        together(reading.size(), kWaitsTogether,
                 [&](size_t i) { reading[i]->readBackHere(false); });
        DeleteBoxes boxes;
        for (size_t i = 0; i < files.size(); ++i) {
            File& file = files[i];
            if (file.failure)
                continue;
            try {
                outcomes[i] = file.target.endConclusion(&boxes);
            } catch (const Error& error) {
                file.failure = error;
            }
        }
        std::vector<fs::Descriptor> deleted;
        for (size_t i = 0; i < files.size(); ++i) {
            if (outcomes[i])
                deleted.push_back(files[i].target.releaseEntry());
        }
        m_env.runner.runBlocking([&] {
            together(deleted.size(), kWaitsTogether, [&](size_t i) { deleted[i].close(); });
        });
        boxes.clear();
        if (!stopped)
            flushVolumes(files);
    });

    std::vector<Result> results;
    for (size_t i = 0; i < files.size(); ++i) {
        File& file = files[i];
        Result result{file.path, {}, file.failure, touchedAtAll(file.target)};
        if (file.failure)
            file.target.restoreMode(); // a file that stays keeps the mode it had
        else
            result.outcome = std::move(outcomes[i]);
        results.push_back(std::move(result));
    }
    return results;
}

} // namespace ov
