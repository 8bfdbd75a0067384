#pragma once

#include <cstdint>
#include <string>

// Largest report of each kind in bytes, including the report id byte when the device's reports
// carry ids. A kind without reports has length 0.
struct HidReportLengths {
    uint16_t input = 0;
    uint16_t output = 0;
    uint16_t feature = 0;
};

// Reads a binary HID report descriptor (short items; long items are skipped) and computes the
// report lengths. Returns false, with all lengths 0, for a malformed descriptor: an item that runs
// past the end, a Pop without a Push, a report id of 0 or above 255, nesting deeper than 32
// Pushes, or a report longer than 65535 bytes.
bool ParseReportDescriptor(const std::string& descriptor, HidReportLengths* lengths);
