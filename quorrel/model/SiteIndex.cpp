#include <quorrel/Matching.hpp>
#include <quorrel/SiteIndex.hpp>
#include <tav/canonical_uri.hpp>

#include <algorithm>
#include <functional>
#include <string_view>

namespace tav {

namespace {

std::size_t HostHash(std::string_view host) {
    return std::hash<std::string_view>()(host);
}

bool ByHash(const std::pair<std::size_t, uri>& site, std::size_t hash) {
    return site.first < hash;
}

} // namespace

SiteIndex::SiteIndex(std::vector<uri> sites) {
    std::vector<std::pair<std::size_t, uri>> hashed;
    hashed.reserve(sites.size());
    for (uri& site : sites) {
        // A listed site is matched in the same canonical form as the requests.
        canonicalize(site, true);
        const std::size_t hash = HostHash(site.host());
        hashed.emplace_back(hash, std::move(site));
    }
    std::sort(hashed.begin(), hashed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    m_sites = std::make_shared<const std::vector<std::pair<std::size_t, uri>>>(std::move(hashed));
}

bool SiteIndex::Matches(const uri& request) const {
    if (m_sites == nullptr)
        return false;
    const auto& sites = *m_sites;
    // A site's host covers the request's when it equals the whole host or the part after one of its dots.
    const std::string_view host = request.host();
    for (std::size_t from = 0;;) {
        const std::size_t hash = HostHash(host.substr(from));
        for (auto site = std::lower_bound(sites.begin(), sites.end(), hash, ByHash);
             site != sites.end() && site->first == hash; ++site)
            if (SiteMatches(site->second, request))
                return true;
        const std::size_t dot = host.find('.', from);
        if (dot == std::string_view::npos)
            return false;
        from = dot + 1;
    }
}

} // namespace tav
