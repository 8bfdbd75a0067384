#pragma once

#include <string>

struct CommandContext;
class LanInterface;

// Finds the device where the command line says and reads its status and configuration. On
// failure prints why (not found, with what did answer, or not readable) and returns false.
bool FindAndRead(LanInterface& device, const std::string& serial, CommandContext& context);
