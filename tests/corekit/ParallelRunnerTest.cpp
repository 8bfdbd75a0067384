#include "ParallelRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

// Every index runs exactly once, never more than jobs at a time, and all have ended on return.
TEST(ParallelRunnerTest, RunsEachIndexOnceWithinTheJobLimit) {
    std::vector<int> runs(40, 0);
    std::atomic<int> running{0}, peak{0};
    std::mutex lock;
    RunParallel(runs.size(), 8, [&](size_t i) {
        const int now = ++running;
        for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        {
            std::lock_guard<std::mutex> guard(lock);
            ++runs[i];
        }
        --running;
    });
    EXPECT_EQ(running, 0);
    EXPECT_LE(peak, 8);
    EXPECT_GT(peak, 1);
    for (int count : runs)
        EXPECT_EQ(count, 1);
}

TEST(ParallelRunnerTest, OneJobRunsInOrderOnTheCallingThread) {
    std::vector<size_t> order;
    const auto caller = std::this_thread::get_id();
    RunParallel(5, 1, [&](size_t i) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        order.push_back(i);
    });
    EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4}));
}
