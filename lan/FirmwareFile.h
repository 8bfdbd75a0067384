#pragma once

#include <string>

// Reads a firmware file whole, once, and checks it before any device is touched. Refuses what is
// not a regular file (a FIFO or a device would block or never end) and what is larger than any
// firmware can be, before reading it. On success digits holds the file's hexadecimal text without
// its trailing white space; otherwise reason says why, for the user ("not found").
bool LoadFirmwareFile(const std::string& path, std::string* digits, std::string* reason);
