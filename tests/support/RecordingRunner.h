#pragma once

#include "platform/BlockingRunner.h"

#include <functional>

namespace ov::test {

// Runs everything in place and counts the yields; an optional hook runs at each one
// (to look at a file between a method's steps, or to change state as a click would).
class RecordingRunner : public InPlaceRunner
{
public:
    void yield() override
    {
        ++yields;
        if (onYield)
            onYield();
    }
    void runBlocking(const std::function<void()>& call) override
    {
        ++blockingCalls;
        if (m_depth == 0)
            ++handOffs;
        if (onBlocking)
            onBlocking();
        ++m_depth;
        struct Leave
        {
            int& depth;
            ~Leave() { --depth; }
        } leave{m_depth};
        call();
    }

    int yields = 0;
    int blockingCalls = 0;
    int handOffs = 0; // the outermost calls: what a window would send to its worker
    std::function<void()> onYield;
    std::function<void()> onBlocking; // before each blocking call runs

private:
    int m_depth = 0;
};

} // namespace ov::test
