#include "Lancfg.h"

#include <iostream>

int main(int argc, char** argv) {
    return RunLancfg(argc, argv, std::cout, std::cerr);
}
