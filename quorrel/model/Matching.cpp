#include <quorrel/Matching.hpp>
#include <tav/canonical_uri.hpp>

#include <bitset>

namespace tav {

namespace {

bool HostMatches(const std::string& site, const std::string& request) {
    if (site.size() > request.size() || request.compare(request.size() - site.size(), site.size(), site) != 0)
        return false;
    return site.size() == request.size() || request[request.size() - site.size() - 1] == '.';
}

bool PathMatches(const std::string& site, const std::string& request) {
    if (site.size() > request.size() || request.compare(0, site.size(), site) != 0)
        return false;
    if (site.size() == request.size())
        return true;
    return (!site.empty() && site.back() == '/') || request[site.size()] == '/';
}

} // namespace

bool SiteMatches(const uri& site, const uri& request) {
    return HostMatches(site.host(), request.host()) && PathMatches(site.path(), request.path());
}

const uri& DecidedForm(const uri& request, uri& spare) {
    if (is_canonical(request, true))
        return request;
    spare = request;
    canonicalize(spare, true);
    return spare;
}

std::string WordText(const uri& request) {
    // Room for every component and its delimiters at once.
    std::string text;
    text.reserve(request.scheme().size() + request.userinfo().size() + request.host().size() +
                 request.port().size() + request.path().size() + request.query().size() +
                 request.fragment().size() + 7);
    request.flatten(text, uri::all_bits);
    uri::decode_segment(text);
    return text;
}

std::vector<std::string> CategoryBitsToIDs(std::uint32_t mask) {
    std::vector<std::string> ids;
    ids.reserve(std::bitset<32>(mask).count());
    for (unsigned bit = 0; bit < 32; ++bit)
        if (mask & (1u << bit))
            ids.push_back(std::to_string(bit + 1));
    return ids;
}

} // namespace tav
