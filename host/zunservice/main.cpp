// zunservice: the service host of the filtering service; runs until SIGTERM or SIGINT.
#include "service_host.hpp"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The signals are taken by sigwait below: blocked here, before any thread starts, so that every thread
    // inherits the mask and none is interrupted by them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    tav::service_host host(std::cout, std::cerr);
    return host.run(arguments, [&stop_signals] {
        int signal = 0;
        sigwait(&stop_signals, &signal);
    });
}
