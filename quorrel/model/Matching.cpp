#include <quorrel/Matching.hpp>
#include <tav/canonical_uri.hpp>

#include "../urlfilter/LowerCase.hpp"

#include <algorithm>
#include <bitset>

namespace tav {

namespace {

bool HostMatches(const std::string& site, const std::string& request) {
    if (site.size() > request.size() || request.compare(request.size() - site.size(), site.size(), site) != 0)
        return false;
    return site.size() == request.size() || request[request.size() - site.size() - 1] == '.';
}

bool PathMatches(const std::string& site, const std::string& request) {
    if (site.size() > request.size() ||
        !std::equal(site.begin(), site.end(), request.begin(),
                    [](char a, char b) { return urlfilter::LowerCase(a) == urlfilter::LowerCase(b); }))
        return false;
    if (site.size() == request.size())
        return true;
    return (!site.empty() && site.back() == '/') || request[site.size()] == '/';
}

// Where the next escaped '/' or backslash of the path begins at or after `from`, or npos.
std::size_t EscapedSeparator(const std::string& path, std::size_t from) {
    for (std::size_t at = path.find('%', from); at != std::string::npos && at + 2 < path.size();
         at = path.find('%', at + 1)) {
        const char low = urlfilter::LowerCase(path[at + 2]);
        if ((path[at + 1] == '2' && low == 'f') || (path[at + 1] == '5' && low == 'c'))
            return at;
    }
    return std::string::npos;
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

bool SeparatedForm(const uri& decided, uri& form) {
    // Most paths hold none: they are only read.
    std::size_t at = EscapedSeparator(decided.path(), 0);
    if (at == std::string::npos)
        return false;
    std::string path = decided.path();
    for (; at != std::string::npos; at = EscapedSeparator(path, at + 1))
        path.replace(at, 3, "/");
    form = decided;
    form.path(path);
    canonicalize(form, true);
    return true;
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
