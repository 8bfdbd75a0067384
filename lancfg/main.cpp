#include "Lancfg.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    const ConsoleIo io{std::cin, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1,
                       [](const char* name) -> const char* { return std::getenv(name); }};
    return RunLancfg(argc, argv, io);
}
