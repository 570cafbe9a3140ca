// Work split over a few threads without changing its result: the items are
// fixed before the threads start, each item writes only its own part of the
// output, and the threads take items in order. The output is therefore the
// same for any number of threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace coverage {

// The threads to use for `requested` (0: one per core).
inline unsigned ThreadCount(unsigned requested) {
    if (requested != 0) {
        return requested;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

// Runs work(i) for every i in [0, count) on up to `threads` threads (the
// calling thread is one of them). Stops taking new items once `cancel` is
// set; answers false then.
inline bool ParallelFor(size_t count, unsigned threads, const std::function<void(size_t)>& work,
                        const std::atomic<bool>* cancel = nullptr) {
    std::atomic<size_t> next{0};
    auto run = [&] {
        for (size_t i = next++; i < count; i = next++) {
            if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
                return;
            }
            work(i);
        }
    };
    const size_t helpers =
        std::min<size_t>(threads, count) > 0 ? std::min<size_t>(threads, count) - 1 : 0;
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (size_t t = 0; t < helpers; ++t) {
        pool.emplace_back(run);
    }
    run();
    for (std::thread& t : pool) {
        t.join();
    }
    return cancel == nullptr || !cancel->load();
}

}  // namespace coverage
