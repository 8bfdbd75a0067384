#pragma once

#include "ConnectionSettings.h"

#include <string>

// The radio service's configuration file and log file, written before every local start.

// Writes the configuration for settings to configPath, naming logPath as the service's log.
// A Usb or Lan connection gets its interface section; any other value an empty one. The file
// holds the LAN interface's key, so it is (re)made owner-only and never written through a
// symbolic link. False when it could not be written; the caller's start then fails at the
// service's handshake.
bool WriteServiceConfig(const ConnectionSettings& settings, const std::string& configPath,
                        const std::string& logPath);

// Empties the service log so that the start-up scan sees only the lines of this start. A log
// that cannot be opened is left as it is.
void EmptyServiceLog(const std::string& logPath);
