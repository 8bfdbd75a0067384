#include "Lancfg.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv) {
    return RunLancfg(argc, argv, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
}
