// Feeds arbitrary bytes to tav::uri and checks the invariants that hold for every input.

#include <tav/uri.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using tav::uri;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool empty(const uri& u) {
    return u.components() == 0 && u.scheme().empty() && u.userinfo().empty() && u.host().empty() &&
           u.port().empty() && u.path().empty() && u.query().empty() && u.fragment().empty();
}

bool same(const uri& a, const uri& b) {
    return a.components() == b.components() && a.scheme() == b.scheme() && a.userinfo() == b.userinfo() &&
           a.host() == b.host() && a.port() == b.port() && a.path() == b.path() && a.query() == b.query() &&
           a.fragment() == b.fragment();
}

std::string flat(const uri& u, unsigned which) {
    std::string out;
    u.flatten(out, which);
    return out;
}

bool parse(uri& u, const std::string& text) {
    return u.parse_absolute(text.data(), text.data() + text.size());
}

// Escaping every byte the flags do not allow, '%' included, is undone by decoding.
void check_round_trip(const std::string& text, unsigned flags) {
    flags = (flags | uri::escape_percent) & ~static_cast<unsigned>(uri::keep_printable);
    std::string s = text;
    const unsigned escaped = uri::encode_segment(s, flags);
    require(s.size() == text.size() + 2 * std::size_t{escaped});
    require(uri::decode_segment(s) == escaped);
    require(s == text);
}

void check_parsed(const uri& u, const std::string& text) {
    require(u.has_path());
    require(u.has_host() || (!u.has_userinfo() && !u.has_port()));

    // Writing out and parsing again gives the same components.
    const std::string all = flat(u, uri::all_bits);
    uri again;
    require(parse(again, all));
    require(same(u, again));
    // Only the HTTP rules change the length: at most one '/' added and one ':' dropped.
    if (u.scheme() != "http") {
        require(all.size() == text.size());
    }
    // Selector 124 leaves out exactly the scheme with its ':' and the userinfo with its '@'.
    const std::size_t left_out =
        (u.has_scheme() ? u.scheme().size() + 1 : 0) + (u.has_userinfo() ? u.userinfo().size() + 1 : 0);
    require(flat(u, 124).size() + left_out == all.size());

    uri plain = u;
    plain.encode(false);
    require(plain.components() == u.components() && plain.port() == u.port());
    uri escaped = u;
    escaped.encode(true);
    escaped.decode();
    require(escaped.query() == u.query() && escaped.fragment() == u.fragment());
    uri decoded = u;
    decoded.decode();
    require(decoded.components() == u.components() && decoded.port() == u.port());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* first = text.data();
    const char* last = first + text.size();

    uri u;
    if (u.parse_absolute(first, last)) {
        check_parsed(u, text);
    } else if (size == 0 || size > uri::max_length_) {
        require(empty(u));
    } else {
        // Only a malformed authority fails; it leaves the path and no authority part.
        require(u.has_path() && !u.has_host() && !u.has_userinfo() && !u.has_port());
    }

    uri authority;
    if (authority.parse_authority(first, last)) {
        require(authority.has_host() && !authority.has_scheme() && !authority.has_path());
    } else {
        require(empty(authority));
    }

    if (size >= 2) {
        check_round_trip(text.substr(2), static_cast<unsigned>(data[0] | data[1] << 8));
    }
    return 0;
}
