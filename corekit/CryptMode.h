#pragma once

#include <cstddef>
#include <cstdint>

// A mode of operation over a block cipher.
class CryptMode {
public:
    virtual ~CryptMode() = default;
    // Processes length bytes (a multiple of the block size); in and out may be one buffer.
    // Returns false when length is not a multiple of the block size.
    virtual bool ProcessData(const uint8_t* in, uint8_t* out, size_t length) = 0;
};
