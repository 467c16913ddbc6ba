#pragma once

#include <atomic>
#include <cstdint>

namespace ov::test {

// Shared by a test and its passthrough file system (a small file both map): the test
// counts the ticks its event loop serves, the file system counts the calls that came
// while the event loop served nothing.
struct WatchBoard
{
    std::atomic<std::uint64_t> ticks{0};
    std::atomic<std::uint32_t> armed{0};
    std::atomic<std::uint32_t> stalls{0};
    char firstStall[32] = {};
};

} // namespace ov::test
