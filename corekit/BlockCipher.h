#pragma once

#include <cstdint>
#include <memory>

// A block cipher keyed at construction; modes of operation drive it block by block.
class BlockCipher {
public:
    // Turns one block into another; made by the cipher for one direction.
    class Transformer {
    public:
        virtual ~Transformer() = default;
        virtual void ProcessBlock(const uint8_t* in, uint8_t* out) = 0;
    };

    virtual ~BlockCipher() = default;
    virtual unsigned GetBlockSize() const = 0;
    virtual std::unique_ptr<Transformer> CreateEncryptor() const = 0;
    virtual std::unique_ptr<Transformer> CreateDecryptor() const = 0;
};
