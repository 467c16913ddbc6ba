#pragma once

#include <cstddef>
#include <functional>

namespace ov {

// Runs work(0) ... work(count - 1) on the calling thread and up to `most - 1` threads of
// their own, each index once, and returns when all are done: for many short calls that
// each wait on the disk (a small file's read back, the last close of a deleted file), whose
// waits then overlap. `work` must throw nothing and touch nothing another call touches.
// Blocking: call it inside a unit handed off to the worker.
void together(std::size_t count, std::size_t most, const std::function<void(std::size_t)>& work);

} // namespace ov
