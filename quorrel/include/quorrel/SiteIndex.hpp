#pragma once

#include <quorrel/export.hpp>
#include <tav/uri.hpp>

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace tav {

// A customer list by host: a request is matched against the sites of its own host and of the domains
// above it only, and gets the answer that SiteMatches gives over the whole list.
class QUORREL_EXPORT SiteIndex {
public:
    SiteIndex() = default;
    explicit SiteIndex(std::vector<uri> sites);

    // Whether a site of the list covers the request.
    bool Matches(const uri& request) const;

private:
    // Copies of the sites, sorted by the hash of their host; shared by copies of the index.
    std::shared_ptr<const std::vector<std::pair<std::size_t, uri>>> m_sites;
};

} // namespace tav
