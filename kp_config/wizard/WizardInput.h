#pragma once

// The checks of the wizard's input pages, free of the window toolkit: each answer is the text
// that tells the user what is still missing, empty when the input can be stored. A page keeps
// Next disabled while its answer is not empty, so no setting that cannot work is ever stored.

#include <cstdint>
#include <string>

// The text without the white space around it.
std::string TrimmedText(const std::string& text);

// Reads a port text with automatic base (decimal; hexadecimal after "0x"; octal after a leading
// zero), white space around it allowed. True only when the whole text is one number from 1 to
// 65535; port then receives it.
bool ReadPortText(const std::string& text, int32_t* port);

// An access code is empty (a device without encryption) or exactly 32 hexadecimal digits.
bool IsAccessCodeText(const std::string& text);

// What the LAN page still lacks: a serial number, a usable access code, and, while the address
// is to be given, a whole address.
std::string LanInputProblem(const std::string& serial, const std::string& accessCode,
                            bool specifyIp, bool addressComplete);

// What the remote service page still lacks: a host name and a port from 1 to 65535.
std::string ServiceInputProblem(const std::string& host, const std::string& portText);
