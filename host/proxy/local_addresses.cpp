#include "local_addresses.hpp"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <utility>

namespace tav::http {

namespace {

constexpr auto stale_after = std::chrono::seconds(5);

bool link_local(const ACE_INET_Addr& address) {
    const auto* any = static_cast<const sockaddr*>(address.get_addr());
    if (any->sa_family == AF_INET)
        return (address.get_ip_address() & 0xFFFF0000U) == 0xA9FE0000U; // 169.254.0.0/16
    if (any->sa_family == AF_INET6) {
        const in6_addr& ip = reinterpret_cast<const sockaddr_in6*>(any)->sin6_addr;
        return IN6_IS_ADDR_LINKLOCAL(&ip) || IN6_IS_ADDR_LOOPBACK(&ip) || IN6_IS_ADDR_UNSPECIFIED(&ip);
    }
    return false;
}

} // namespace

local_addresses::local_addresses(std::shared_ptr<const steady_source> time) : time_(std::move(time)) {}

bool local_addresses::contains(const ACE_INET_Addr& address) {
    if (address.is_loopback() || address.is_any() || link_local(address))
        return true;
    const std::lock_guard<std::mutex> lock(mutex_);
    refresh();
    return std::any_of(own_.begin(), own_.end(),
                       [&](const ACE_INET_Addr& own) { return own.is_ip_equal(address); });
}

void local_addresses::refresh() {
    const auto now = time_->now();
    if (ever_read_ && now - read_ < stale_after)
        return;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return; // the addresses read last stand
    own_.clear();
    for (const ifaddrs* each = list; each != nullptr; each = each->ifa_next) {
        if (each->ifa_addr == nullptr)
            continue;
        const int family = each->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        ACE_INET_Addr own;
        const int size = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (own.set(reinterpret_cast<const sockaddr_in*>(each->ifa_addr), size) == 0)
            own_.push_back(own);
    }
    ::freeifaddrs(list);
    read_ = now;
    ever_read_ = true;
}

} // namespace tav::http
