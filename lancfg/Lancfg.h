#pragma once

#include "ConsoleIo.h"

// Runs the console tool on a command line: checks it, resolves the addresses of -a, loads the
// keys of a command that takes them, and runs the command. Returns the exit code: 0, -1, -2, or
// 2 after a misuse line and the usage text, or after one line that refuses the input. "--help"
// alone prints the usage text and "--version" alone the version, both with 0.
int RunLancfg(int argc, const char* const* argv, const ConsoleIo& io);
