#pragma once

// Small text services that the programs share, so that each rule is written once.

#include <string>

// text without the spaces, tabs, carriage returns and line feeds at its ends.
std::string TrimText(const std::string& text);

// text with the ASCII letters A to Z made small; every other byte stays as it is, whatever the
// locale.
std::string LowerText(std::string text);

// True for an IPv4 address as people write it: four decimal numbers 0 to 255 joined by points,
// without leading zeros (some readers take 010 for octal), signs, spaces or anything before or
// after.
bool IsIpv4Text(const std::string& text);
