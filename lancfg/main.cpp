#include "Lancfg.h"
#include "TerminationWatch.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
    // A reader that went away (lancfg ... | head) must not end an update half-way: writes then
    // fail, the work goes on, and the exit status says that the output was lost.
    TerminationWatch::IgnoreBrokenPipes();
    const ConsoleIo io{std::cin, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1,
                       [](const char* name) -> const char* { return std::getenv(name); },
                       ::isatty(STDIN_FILENO) == 1};
    const int result = RunLancfg(argc, argv, io);
    // The last buffered bytes reach the file only now: a full disk may refuse them here.
    if (std::fclose(stdout) != 0) {
        std::fprintf(stderr, "lancfg: the output could not be written: %s\n", std::strerror(errno));
        return 255;
    }
    return result;
}
