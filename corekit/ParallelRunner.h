#pragma once

#include <cstddef>
#include <functional>

// Runs work(i) once for every i from 0 to count - 1, on at most jobs threads at a time, and
// returns when every call has returned. The calls take the indices in ascending order, so the
// first ones start first. With jobs 1, or one item, everything runs on the calling thread. The
// worker threads belong to the call: none outlives it. work must not throw.
void RunParallel(size_t count, unsigned jobs, const std::function<void(size_t)>& work);
