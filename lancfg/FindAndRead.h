#pragma once

#include <string>

struct ChosenKey;
struct CommandContext;
class LanInterface;

// Finds the device where the command line says and reads its status and configuration, with the
// key set on the record for a device that wants it for reads. On failure prints why (not found,
// with what did answer; namesakes; the key it wants; not readable) and returns the exit code:
// ExitOk when read, ExitKeyError for a missing or refused key, else ExitFailed.
int FindAndRead(LanInterface& device, const std::string& serial, const ChosenKey& key,
                CommandContext& context);
