// Feeds arbitrary bytes to the canonical form of an address: the canonical form of a canonical form is
// itself, and is_canonical says exactly whether canonicalising changes anything.

#include <tav/canonical_uri.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

bool same(const tav::uri& a, const tav::uri& b) {
    return a.scheme() == b.scheme() && a.host() == b.host() && a.path() == b.path() && a.query() == b.query();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tav::uri address;
    const auto* text = reinterpret_cast<const char*>(data);
    if (!address.parse_absolute(text, text + size))
        return 0;
    for (const bool merged : {false, true}) {
        tav::uri once = address;
        tav::canonicalize(once, merged);
        require(tav::is_canonical(once, merged));
        require(tav::is_canonical(address, merged) == same(address, once));
        tav::uri twice = once;
        tav::canonicalize(twice, merged);
        require(same(once, twice));
    }
    return 0;
}
