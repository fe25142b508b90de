#pragma once

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace modelgen
{

// Runs body(k) for k = 0 .. count-1 on up to `threads` threads. Each k is independent, so the
// results do not depend on the thread count or on scheduling.
template <class Body>
void parallelFor(size_t count, unsigned threads, Body body)
{
    std::atomic<size_t> next{0};
    auto worker = [&]() {
        for (size_t k = next++; k < count; k = next++)
            body(k);
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads && t < count; ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread& thread : pool)
        thread.join();
}

} // namespace modelgen
