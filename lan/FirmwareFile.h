#pragma once

#include <string>

// Reads a firmware file whole, once, and checks it before any device is touched. Refuses what is
// not a regular file (a FIFO or a device would block or never end) and what is larger than any
// firmware can be, before reading it. On success digits holds the file's hexadecimal text without
// its trailing white space; otherwise reason says why, for the user ("not found").
bool LoadFirmwareFile(const std::string& path, std::string* digits, std::string* reason);

#include <cstdint>
#include <istream>

// What reading the next record of a firmware text gave.
enum class BlockRead {
    Block, // block holds the W payload: the counter (when counted), the length and the data
    End,   // the text ended, also inside a record (an incomplete record is not sent)
    Bad,   // a record longer than 1024 bytes, or a read error
};
// Reads one record the way the device expects it: two digit pairs of length, then as many pairs
// of data. counted puts counter in front (bootloaders from version 0.010 on).
BlockRead ReadFirmwareBlock(std::istream& file, bool counted, int32_t counter, std::string* block);
