#pragma once

// wrk's figures for one URL asked through a forward proxy over 50 keep-alive connections.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace bench {

struct wrk_figures {
    double rate = -1;
    double p50_ms = -1;
    double p99_ms = -1;
    long failed = 0;
};

inline double wrk_milliseconds(double value, const std::string& unit) {
    if (unit == "us")
        return value / 1000;
    if (unit == "s")
        return value * 1000;
    return value;
}

// wrk through the proxy on `proxy_port`, asking for `url` over 50 connections for `seconds`; its script
// goes to `work`/request.lua.
inline wrk_figures wrk_through(const std::filesystem::path& work, int proxy_port, const std::string& url,
                               double seconds) {
    const std::filesystem::path script = work / "request.lua";
    std::ofstream(script) << "request = function() return wrk.format(\"GET\", \"" << url << "\") end\n";
    const std::string command = "wrk -t1 -c50 --latency -d" + std::to_string(static_cast<int>(seconds)) +
                                "s -s " + script.string() +
                                " http://127.0.0.1:" + std::to_string(proxy_port) + "/ 2>&1";
    wrk_figures found;
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr)
        return found;
    char line[512];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        double value = 0;
        char unit[8] = "";
        long count = 0;
        if (std::sscanf(line, "Requests/sec: %lf", &value) == 1)
            found.rate = value;
        else if (std::sscanf(line, " 50%% %lf%7s", &value, unit) == 2)
            found.p50_ms = wrk_milliseconds(value, unit);
        else if (std::sscanf(line, " 99%% %lf%7s", &value, unit) == 2)
            found.p99_ms = wrk_milliseconds(value, unit);
        else if (std::sscanf(line, " Non-2xx or 3xx responses: %ld", &count) == 1)
            found.failed += count;
        else if (std::sscanf(line, " Socket errors: connect %ld", &count) == 1)
            found.failed += count;
    }
    ::pclose(output);
    return found;
}

} // namespace bench
