#pragma once

// tav::SiteNames - the site of a host: its registrable domain under the public suffix list, e.g.
// example.co.uk for www.example.co.uk. Without the list, the host's last two labels. An IP address or a
// host of one label is its own site. Names are compared in lower case, without a final dot.

#include <string>

struct psl_ctx_st;

namespace tav {

class SiteNames {
public:
    // Loads the list from a file of the public suffix list's format; a missing file leaves the fallback.
    explicit SiteNames(const std::string& suffixList);
    ~SiteNames();
    SiteNames(const SiteNames&) = delete;
    SiteNames& operator=(const SiteNames&) = delete;

    bool HasList() const { return m_list != nullptr; }
    std::string SiteOf(const std::string& host) const;

private:
    psl_ctx_st* m_list = nullptr;
};

} // namespace tav
