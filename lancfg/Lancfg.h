#pragma once

#include <iostream>
#include <ostream>

// Runs the console tool on a command line; results go to out, explanations for the user to err.
// Returns the exit code (0, -1, -2, or 2 after the usage text or a refused serial number).
// "--help" alone prints the usage text and "--version" alone the version, both with 0.
// terminal tells that out is a terminal, where progress is redrawn in place.
int RunLancfg(int argc, const char* const* argv, std::ostream& out, std::ostream& err = std::cerr,
              bool terminal = false);

// The usage text, with program standing for the program's own name.
void PrintUsage(const char* program, std::ostream& out);
