// The policy check command; see PolicyCommand.hpp, or run it with --help.

#include "PolicyCommand.hpp"

#include <iostream>

int main(int argc, char** argv) {
    return PolicyCommand(TOLLWICK_SAMPLE_CFG, std::cout, std::cerr)
        .Run(std::vector<std::string>(argv + 1, argv + argc));
}
