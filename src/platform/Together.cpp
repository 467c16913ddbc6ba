#include "platform/Together.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace ov {

void together(std::size_t count, std::size_t most, const std::function<void(std::size_t)>& work)
{
    std::atomic<std::size_t> next{0};
    const auto drain = [&] {
        for (std::size_t i; (i = next++) < count;)
            work(i);
    };
    std::vector<std::jthread> helpers;
    try {
        for (std::size_t i = 1; i < std::min(most, count); ++i)
            helpers.emplace_back(drain);
    } catch (const std::system_error&) {
        // No more threads to be had: the ones there are do the rest.
    }
    drain();
}

} // namespace ov
