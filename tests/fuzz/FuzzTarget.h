#pragma once

// The entry point every fuzz target defines: libFuzzer calls it with each input, and the replay
// program of the ordinary build with each file of the target's corpus. An input that breaks a
// property the target checks ends the program through Check.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}
