#include "StartWebServer.h"

#include "CWebServer.h"

#include <OSCompat.h>

bool StartWebServer(CWebServer& server, const std::string& serviceUrl,
                    const std::string& configDir) {
    server.Stop();
    server.SetPort(0);
    server.SetDocumentRoot(OSCompat::FixPath("www"));
    server.SetCgiInterpreter(OSCompat::FixPath("tclsh85t.exe"));
    server.ClearCgiVariables();
    server.SetCgiVariable("TCL_LIBRARY", OSCompat::FixPath("tcl_lib"));
    server.SetCgiVariable("RADLEX_SERVICE", serviceUrl);
    server.SetCgiVariable("CONFIG_ROOT", configDir);
    server.SetCgiVariable("IC_OPTIONS", kIcOptions);
    return server.Start();
}
