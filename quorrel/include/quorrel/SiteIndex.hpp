#pragma once

#include <quorrel/export.hpp>
#include <tav/uri.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
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
    // Copies of the sites sorted by the hash of their host, and those hashes apart, so that a search
    // reads few of them; and the lengths of their hosts, bit n for n bytes (63 for longer), so that
    // most parts of a request's host are passed over without a hash.
    struct Sites {
        std::vector<std::size_t> hashes;
        std::vector<uri> sites;
        std::uint64_t lengths = 0;
    };
    // Shared by copies of the index.
    std::shared_ptr<const Sites> m_sites;
};

} // namespace tav
