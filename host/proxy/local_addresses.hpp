#pragma once

// The addresses that lead to the filter machine itself or stay on its link: loopback, the unspecified
// address, the addresses of its own interfaces, and the link-local ranges (169.254.0.0/16, fe80::/10), where
// cloud machines keep their metadata service. The proxy does not relay to them, so that neither the
// machine's own services nor such a service can be reached through the filter.
//
// The interfaces' addresses are read again when they are a few seconds old, so that one that came later (a
// new lease) is soon known. Safe to use from several threads.

#include "steady_source.hpp"

#include <ace/INET_Addr.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace tav::http {

class local_addresses {
public:
    explicit local_addresses(std::shared_ptr<const steady_source> time);
    bool contains(const ACE_INET_Addr& address);

private:
    // Reads the interfaces' addresses when those held are stale; under mutex_.
    void refresh();

    std::shared_ptr<const steady_source> time_;
    std::mutex mutex_;
    std::vector<ACE_INET_Addr> own_;
    std::chrono::steady_clock::time_point read_{};
    bool ever_read_ = false;
};

} // namespace tav::http
