#pragma once

#include <ostream>

// Runs the console tool on a command line and writes everything it prints to out.
// Returns the exit code (0, -1, -2, or 2 after the usage text).
int RunLancfg(int argc, const char* const* argv, std::ostream& out);

// The usage text, with program standing for the program's own name.
void PrintUsage(const char* program, std::ostream& out);
