#pragma once

#include "KeySource.h"

#include <istream>
#include <ostream>

// What one run of the console tool reads and writes besides its command line, so that a test can
// run it in-process with streams and an environment of its own; main passes the real ones.
struct ConsoleIo {
    std::istream& in;                   // where "-k -" reads the key
    std::ostream& out;                  // results
    std::ostream& err;                  // explanations for the user beside the results
    bool terminal = false;              // out is a terminal, where progress may be redrawn in place
    KeySource::Environment environment; // getenv-like: LANCFG_KEY, XDG_CONFIG_HOME, HOME
    bool inputTerminal = false; // in is a terminal, where a person can answer a question
};
