#include <tav/uri.hpp>

#include "hex.hpp"

#include <boost/regex.hpp>

#include <array>
#include <initializer_list>
#include <locale>
#include <stdexcept>
#include <utility>

namespace tav {
namespace {

// The component split of RFC 3986, Appendix B, and of its authority, compiled once at load in
// the default Perl syntax, where '.' matches every byte, newline and NUL included. The absolute
// pattern matches every byte string; the authority pattern rejects a second ':' and a port
// other than digits.
const boost::regex absolute_pattern(R"((([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\?([^#]*))?(#(.*))?)");
const boost::regex authority_pattern(R"((([^@]*)@)?([^:]*)(:([[:digit:]]*))?)");

bool acceptable_length(const char* first, const char* last) {
    return first != last && static_cast<std::size_t>(last - first) <= uri::max_length_;
}

// Whole-input match. The engine throws std::runtime_error when it hits its complexity or
// stack limits; that counts as no match, so parsing never throws on any input.
bool full_match(const char* first, const char* last, boost::cmatch& groups, const boost::regex& pattern) {
    try {
        return boost::regex_match(first, last, groups, pattern);
    } catch (const std::runtime_error&) {
        return false;
    }
}

// ASCII-only lower-casing, whatever the global locale.
void to_lower(std::string& s) {
    std::use_facet<std::ctype<char>>(std::locale::classic()).tolower(s.data(), s.data() + s.size());
}

using class_table = std::array<std::uint16_t, 256>;

constexpr void mark(class_table& table, const char* bytes, std::uint16_t classes) {
    for (; *bytes != '\0'; ++bytes) {
        table[static_cast<unsigned char>(*bytes)] = classes;
    }
}

// For every byte, the character classes (bits 0x001-0x200) in which it may stay unescaped.
// Bytes not marked here (controls, space, " % < > `, DEL and 0x80-0xFF) stay in none.
constexpr class_table make_class_table() {
    class_table table{};
    mark(table, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!$&'()*+,-_~", 0x3FF);
    mark(table, ".", 0x3B9);
    mark(table, ";", 0x390);
    mark(table, ":=@", 0x3F0);
    mark(table, "|", 0x3F4);
    mark(table, "[\\]^{}", 0x380);
    mark(table, "/", 0x310);
    mark(table, "?", 0x300);
    mark(table, "#", 0x200);
    return table;
}

constexpr class_table char_classes = make_class_table();

bool stays_unescaped(unsigned char c, unsigned flags) {
    if (c == ':' && (flags & uri::escape_colon) != 0) {
        return false;
    }
    if ((char_classes[c] & flags) != 0) {
        return true;
    }
    if (c == '%') {
        return (flags & uri::escape_percent) == 0 || (flags & uri::keep_printable) != 0;
    }
    if (c >= 0x80) {
        return (flags & uri::keep_8bit) != 0;
    }
    return c >= 0x20 && c <= 0x7E && (flags & uri::keep_printable) != 0;
}

} // namespace

void uri::clear() {
    *this = uri();
}

uri& uri::assign(std::string& member, const std::string& value, std::uint32_t bit) {
    member = value;
    if (value.empty()) {
        components_ &= ~bit;
    } else {
        components_ |= bit;
    }
    return *this;
}

void uri::take(std::string& member, std::string value, std::uint32_t bit) {
    member = std::move(value);
    components_ |= bit;
}

bool uri::parse_absolute(const char* first, const char* last) {
    clear();
    boost::cmatch groups;
    if (!acceptable_length(first, last) || !full_match(first, last, groups, absolute_pattern)) {
        return false;
    }
    if (groups[1].matched) {
        take(scheme_, groups.str(2), scheme_bit);
    }
    take(path_, groups.str(5), path_bit);
    if (groups[6].matched) {
        take(query_, groups.str(7), query_bit);
    }
    if (groups[8].matched) {
        take(fragment_, groups.str(9), fragment_bit);
    }
    if (groups[3].matched && !take_authority(groups[4].first, groups[4].second)) {
        return false;
    }
    normalize();
    return true;
}

bool uri::parse_authority(const char* first, const char* last) {
    clear();
    if (!acceptable_length(first, last) || !take_authority(first, last)) {
        return false;
    }
    normalize();
    return true;
}

// Sets userinfo, host and port from a whole authority; on a mismatch sets nothing.
bool uri::take_authority(const char* first, const char* last) {
    boost::cmatch groups;
    if (!full_match(first, last, groups, authority_pattern)) {
        return false;
    }
    if (groups[1].matched) {
        take(userinfo_, groups.str(2), userinfo_bit);
    }
    take(host_, groups.str(3), host_bit);
    if (groups[4].matched) {
        take(port_, groups.str(5), port_bit);
    }
    return true;
}

void uri::normalize() {
    if (has_scheme()) {
        to_lower(scheme_);
    }
    if (has_host()) {
        to_lower(host_);
    }
    if (scheme_ == "http") {
        normalize_http();
    } else if (scheme_ == "ftp") {
        normalize_ftp();
    }
}

// The empty HTTP path is the root, and a bare ':' after the host is no port.
void uri::normalize_http() {
    if (has_path() && path_.empty()) {
        path_ = "/";
    }
    if (has_port() && port_.empty()) {
        components_ &= ~port_bit;
    }
}

// An FTP URI is kept as written: an empty path stays empty rather than becoming the root.
void uri::normalize_ftp() {}

void uri::flatten(std::string& out, unsigned which) const {
    const auto wanted = [this, which](std::uint32_t bit) { return (which & bit) != 0 && has(bit); };
    // Delimiters are pushed back, which is inline, rather than appended.
    if (wanted(scheme_bit)) {
        out += scheme_;
        out += ':';
    }
    if ((which & (userinfo_bit | host_bit | port_bit)) != 0 && has_host()) {
        out += "//";
        if (wanted(userinfo_bit)) {
            out += userinfo_;
            out += '@';
        }
        if (wanted(host_bit)) {
            out += host_;
        }
        if (wanted(port_bit)) {
            out += ':';
            out += port_;
        }
    }
    if (wanted(path_bit)) {
        out += path_;
    }
    if (wanted(query_bit)) {
        out += '?';
        out += query_;
    }
    if (wanted(fragment_bit)) {
        out += '#';
        out += fragment_;
    }
}

void uri::decode() {
    for (std::string* component : {&scheme_, &userinfo_, &host_, &path_, &query_, &fragment_}) {
        decode_segment(*component);
    }
}

void uri::encode(bool percent_too) {
    const unsigned percent = percent_too ? escape_percent : 0U;
    encode_segment(scheme_, scheme_chars);
    encode_segment(userinfo_, userinfo_chars);
    encode_segment(host_, host_chars);
    encode_segment(path_, path_chars);
    encode_segment(query_, query_chars | percent);
    encode_segment(fragment_, fragment_chars | percent);
}

unsigned uri::encode_segment(std::string& s, unsigned flags) {
    std::string out;
    out.reserve(s.size());
    unsigned count = 0;
    for (const char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (stays_unescaped(byte, flags)) {
            out += c;
        } else {
            out += '%';
            out += hex::digits[byte >> 4];
            out += hex::digits[byte & 0x0F];
            ++count;
        }
    }
    if (count != 0) {
        s.swap(out);
    }
    return count;
}

unsigned uri::decode_segment(std::string& s) {
    // Decoding only shortens the text, so it is done in place, from the first '%' on.
    std::size_t to = s.find('%');
    if (to == std::string::npos) {
        return 0;
    }
    unsigned count = 0;
    for (auto at = s.cbegin() + static_cast<std::ptrdiff_t>(to); at != s.cend(); ++at) {
        char c = *at;
        if (decode_char(at, s.cend(), c)) {
            at += 2;
            ++count;
        }
        s[to++] = c;
    }
    s.resize(to);
    return count;
}

bool uri::decode_char(std::string::const_iterator at, std::string::const_iterator end, char& out) {
    if (end - at < 3 || *at != '%') {
        return false;
    }
    const int high = hex::value(at[1]);
    const int low = hex::value(at[2]);
    if (high < 0 || low < 0) {
        return false;
    }
    out = static_cast<char>(high * 16 + low);
    return true;
}

} // namespace tav
