#include "SiteNames.hpp"

#include <libpsl.h>

#include <arpa/inet.h>

#include <algorithm>

namespace tav {

namespace {

bool IsAddress(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

} // namespace

SiteNames::SiteNames(const std::string& suffixList) : m_list(psl_load_file(suffixList.c_str())) {}

SiteNames::~SiteNames() {
    psl_free(m_list);
}

std::string SiteNames::SiteOf(const std::string& host) const {
    std::string name =
        host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
    while (!name.empty() && name.back() == '.')
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const auto last = name.rfind('.');
    if (last == std::string::npos || last == 0 || IsAddress(name))
        return name;
    if (m_list != nullptr) {
        const char* domain = psl_registrable_domain(m_list, name.c_str());
        return domain != nullptr ? std::string(domain) : name;
    }
    const auto before = name.rfind('.', last - 1);
    return before == std::string::npos ? name : name.substr(before + 1);
}

} // namespace tav
