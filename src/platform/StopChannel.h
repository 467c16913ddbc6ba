#pragma once

#include <atomic>

namespace ov {

// How a run is asked to end early. The window asks a deletion run to end after the file
// in hand; Ctrl-C and the Disk Cleaner's Stop ask for an end after the write in hand.
// A request is one atomic store, so a signal handler may make it.
class StopChannel
{
public:
    enum class When
    {
        AfterFile = 1,
        AfterWrite = 2,
    };

    void request(When when = When::AfterWrite) noexcept
    {
        int current = m_state.load();
        // A stricter request wins; a later milder one does not undo it.
        while (current < int(when) && !m_state.compare_exchange_weak(current, int(when))) {
        }
    }
    void reset() noexcept { m_state.store(0); }
    // Any request: the run ends before its next file.
    bool requested() const noexcept { return m_state.load() != 0; }
    // The run ends before its next write.
    bool now() const noexcept { return m_state.load() >= int(When::AfterWrite); }

private:
    std::atomic<int> m_state{0};
    static_assert(std::atomic<int>::is_always_lock_free);
};

} // namespace ov
