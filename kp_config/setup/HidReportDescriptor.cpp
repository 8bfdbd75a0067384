#include "HidReportDescriptor.h"

#include <array>
#include <cstddef>
#include <map>
#include <vector>

namespace {

// Item tags with their type bits, size bits cleared.
constexpr uint8_t TagInput = 0x80;
constexpr uint8_t TagOutput = 0x90;
constexpr uint8_t TagFeature = 0xB0;
constexpr uint8_t TagReportSize = 0x74;
constexpr uint8_t TagReportId = 0x84;
constexpr uint8_t TagReportCount = 0x94;
constexpr uint8_t TagPush = 0xA4;
constexpr uint8_t TagPop = 0xB4;
constexpr uint8_t LongItemPrefix = 0xFE;

constexpr size_t MaxPushDepth = 32;
constexpr uint64_t MaxReportBits = 0xFFFFull * 8;

struct GlobalState {
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint32_t reportId = 0;
};

enum Kind { KindInput = 0, KindOutput = 1, KindFeature = 2, KindCount = 3 };

} // namespace

bool ParseReportDescriptor(const std::string& descriptor, HidReportLengths* lengths) {
    if (lengths == nullptr)
        return false;
    *lengths = HidReportLengths{};

    const auto* data = reinterpret_cast<const uint8_t*>(descriptor.data());
    const size_t end = descriptor.size();
    GlobalState state;
    std::vector<GlobalState> stack;
    bool usesIds = false;
    // Bits per report id, for each kind.
    std::array<std::map<uint32_t, uint64_t>, KindCount> bits;

    size_t pos = 0;
    while (pos < end) {
        const uint8_t prefix = data[pos];
        if (prefix == LongItemPrefix) {
            // Long item: prefix, data size, tag, data. Nothing in it concerns report lengths.
            if (end - pos < 3)
                return false;
            const size_t size = data[pos + 1];
            if (end - pos - 3 < size)
                return false;
            pos += 3 + size;
            continue;
        }
        const size_t sizeCode = prefix & 0x03u;
        const size_t size = sizeCode == 3 ? 4 : sizeCode;
        if (end - pos - 1 < size)
            return false;
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value |= static_cast<uint32_t>(data[pos + 1 + i]) << (8 * i);
        pos += 1 + size;

        int kind = -1;
        switch (prefix & 0xFCu) {
        case TagReportSize:
            state.reportSize = value;
            break;
        case TagReportCount:
            state.reportCount = value;
            break;
        case TagReportId:
            if (value == 0 || value > 0xFF)
                return false;
            state.reportId = value;
            usesIds = true;
            break;
        case TagPush:
            if (stack.size() >= MaxPushDepth)
                return false;
            stack.push_back(state);
            break;
        case TagPop:
            if (stack.empty())
                return false;
            state = stack.back();
            stack.pop_back();
            break;
        case TagInput:
            kind = KindInput;
            break;
        case TagOutput:
            kind = KindOutput;
            break;
        case TagFeature:
            kind = KindFeature;
            break;
        default:
            break;
        }
        if (kind < 0)
            continue;
        // Both factors are below 2^32, so the product fits; the running sum is capped before it
        // could overflow.
        const uint64_t add = static_cast<uint64_t>(state.reportSize) * state.reportCount;
        uint64_t& sum = bits[static_cast<size_t>(kind)][state.reportId];
        if (add > MaxReportBits || sum + add > MaxReportBits)
            return false;
        sum += add;
    }

    std::array<uint16_t, KindCount> result{};
    for (size_t k = 0; k < KindCount; ++k) {
        uint64_t largest = 0;
        for (const auto& [id, reportBits] : bits[k]) {
            const uint64_t bytes = (reportBits + 7) / 8 + (usesIds ? 1 : 0);
            if (bytes > largest)
                largest = bytes;
        }
        if (largest > 0xFFFF)
            return false;
        result[k] = static_cast<uint16_t>(largest);
    }
    lengths->input = result[KindInput];
    lengths->output = result[KindOutput];
    lengths->feature = result[KindFeature];
    return true;
}
