#include <quorrel/Matching.hpp>
#include <quorrel/SiteIndex.hpp>
#include <tav/canonical_uri.hpp>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

namespace tav {

namespace {

std::size_t HostHash(std::string_view host) {
    return std::hash<std::string_view>()(host);
}

std::uint64_t LengthBit(std::size_t length) {
    return std::uint64_t{1} << std::min<std::size_t>(length, 63);
}

} // namespace

SiteIndex::SiteIndex(std::vector<uri> sites) {
    std::vector<std::pair<std::size_t, std::size_t>> order; // hash, position in sites
    order.reserve(sites.size());
    for (uri& site : sites) {
        // A listed site is matched in the same canonical form as the requests.
        canonicalize(site, true);
        order.emplace_back(HostHash(site.host()), order.size());
    }
    std::sort(order.begin(), order.end());
    auto sorted = std::make_shared<Sites>();
    sorted->hashes.reserve(order.size());
    sorted->sites.reserve(order.size());
    for (const auto& [hash, at] : order) {
        sorted->hashes.push_back(hash);
        sorted->lengths |= LengthBit(sites[at].host().size());
        sorted->sites.push_back(std::move(sites[at]));
    }
    m_sites = std::move(sorted);
}

bool SiteIndex::Matches(const uri& request) const {
    if (m_sites == nullptr)
        return false;
    const std::vector<std::size_t>& hashes = m_sites->hashes;
    // A site's host covers the request's when it equals the whole host or the part after one of its dots.
    const std::string_view host = request.host();
    for (std::size_t from = 0;;) {
        if (m_sites->lengths & LengthBit(host.size() - from)) {
            const std::size_t hash = HostHash(host.substr(from));
            for (auto at = std::lower_bound(hashes.begin(), hashes.end(), hash);
                 at != hashes.end() && *at == hash; ++at)
                if (SiteMatches(m_sites->sites[static_cast<std::size_t>(at - hashes.begin())], request))
                    return true;
        }
        const std::size_t dot = host.find('.', from);
        if (dot == std::string_view::npos)
            return false;
        from = dot + 1;
    }
}

} // namespace tav
