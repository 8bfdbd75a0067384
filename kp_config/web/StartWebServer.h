#pragma once

#include <string>

class CWebServer;

// The fixed text of "IC_OPTIONS": the parts of the web UI this program does not offer.
inline constexpr const char* kIcOptions = "NO_PROFILE_MAPPING|NO_ROOMS|NO_FUNCTIONS";

// The application's start-up step for the web server: serves "www" beside the program on a
// port the system chooses, runs scripts through "tclsh85t" beside it, and hands the scripts
// TCL_LIBRARY, RADLEX_SERVICE (`serviceUrl`, may be empty), CONFIG_ROOT (`configDir`) and
// IC_OPTIONS. True when the server runs.
bool StartWebServer(CWebServer& server, const std::string& serviceUrl,
                    const std::string& configDir);
