#include "ParallelRunner.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

void RunParallel(size_t count, unsigned jobs, const std::function<void(size_t)>& work) {
    const size_t threads = std::min<size_t>(count, std::max(jobs, 1u));
    if (threads <= 1) {
        for (size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    std::atomic<size_t> next{0};
    auto drain = [&] {
        for (size_t i = next++; i < count; i = next++)
            work(i);
    };
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    for (size_t t = 1; t < threads; ++t)
        workers.emplace_back(drain);
    drain(); // the calling thread is one of the workers
    for (std::thread& worker : workers)
        worker.join();
}
