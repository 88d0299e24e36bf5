#pragma once

// Where host/ reads the monotonic time: deadlines of connections and handshakes, silent origins, idle
// pooled connections, the age of the interfaces' addresses. The base class reads the steady clock; a test
// gives the code a source of its own (see fake_steady_source) to move time exactly. Safe on any thread.

#include <chrono>

namespace tav::http {

class steady_source {
public:
    using clock = std::chrono::steady_clock;

    virtual ~steady_source();
    virtual clock::time_point now() const;
};

} // namespace tav::http
