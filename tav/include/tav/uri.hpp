#pragma once

// tav::uri - an absolute URI split into its seven generic components (RFC 3986, Appendix B).
//
// Parsing lower-cases the scheme and host and applies the per-scheme rules (an empty HTTP path
// becomes "/", an empty HTTP port is dropped); nothing else is changed. Strings are raw bytes.
// A component bit records that the component is present, which is not the same as non-empty:
// parsing sets it whenever the delimiter was seen, a setter exactly when the value is non-empty.
// Parsing never throws; it reports bad input by returning false.
//
// A uri is a plain copyable value that owns nothing but its strings. It has no locking: one
// object belongs to one thread at a time; parsing different objects on several threads at once
// is safe.

#include <tav/export.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tav {

class TAV_EXPORT uri {
public:
    // Component bits of components(), also the selector bits of flatten().
    enum component_bits : std::uint32_t {
        scheme_bit = 0x01,
        userinfo_bit = 0x02,
        host_bit = 0x04,
        port_bit = 0x08,
        path_bit = 0x10,
        query_bit = 0x20,
        fragment_bit = 0x40,
        all_bits = 0x7F,
    };

    // Flags of encode_segment(): the character classes whose bytes stay unescaped, and modifiers.
    enum encode_flags : unsigned {
        scheme_chars = 0x001,
        userinfo_chars = 0x006,
        host_chars = 0x008,
        path_chars = 0x070,
        segment_chars = 0x080, // no component uses it: everything printable but / ? # and the unsafe
        query_chars = 0x100,
        fragment_chars = 0x200,
        escape_percent = 0x400,  // without it '%' is kept, so existing escapes survive
        keep_8bit = 0x800,       // keep bytes 0x80-0xFF
        keep_printable = 0x1000, // keep every byte 0x20-0x7E, '%' included
        escape_colon = 0x2000,   // escape ':' whatever else allows it
    };

    // The largest input, in bytes, that the parse operations accept.
    static constexpr std::size_t max_length_ = 16384;

    const std::string& scheme() const { return scheme_; }
    const std::string& userinfo() const { return userinfo_; }
    const std::string& host() const { return host_; }
    const std::string& port() const { return port_; }
    const std::string& path() const { return path_; }
    const std::string& query() const { return query_; }
    const std::string& fragment() const { return fragment_; }

    // Setters store the value unchanged and mark the component present exactly when it is non-empty.
    uri& scheme(const std::string& value) { return assign(scheme_, value, scheme_bit); }
    uri& userinfo(const std::string& value) { return assign(userinfo_, value, userinfo_bit); }
    uri& host(const std::string& value) { return assign(host_, value, host_bit); }
    uri& port(const std::string& value) { return assign(port_, value, port_bit); }
    uri& path(const std::string& value) { return assign(path_, value, path_bit); }
    uri& query(const std::string& value) { return assign(query_, value, query_bit); }
    uri& fragment(const std::string& value) { return assign(fragment_, value, fragment_bit); }

    std::uint32_t components() const { return components_; }
    bool has_scheme() const { return has(scheme_bit); }
    bool has_userinfo() const { return has(userinfo_bit); }
    bool has_host() const { return has(host_bit); }
    bool has_port() const { return has(port_bit); }
    bool has_path() const { return has(path_bit); }
    bool has_query() const { return has(query_bit); }
    bool has_fragment() const { return has(fragment_bit); }

    void clear();

    // Parses [first, last) as a whole URI. On a malformed authority returns false and keeps the
    // scheme, path, query and fragment already taken, unnormalised; otherwise a false result
    // leaves the object empty.
    [[nodiscard]] bool parse_absolute(const char* first, const char* last);
    // Parses [first, last) as an authority only: userinfo '@' host ':' port. False leaves it empty.
    [[nodiscard]] bool parse_authority(const char* first, const char* last);

    // Appends the components selected by `which` (component bits) to out in URI syntax. The
    // authority is written only when the host is present.
    void flatten(std::string& out, unsigned which) const;

    // Undo percent-escapes in every component but the port.
    void decode();
    // Percent-encode every component but the port with its own character classes; with
    // percent_too, '%' in the query and fragment is escaped as well.
    void encode(bool percent_too);

    // Escapes the bytes of s that flags do not allow; returns the number of bytes escaped.
    static unsigned encode_segment(std::string& s, unsigned flags);
    // Decodes the %XX escapes of s (hex digits of either case); returns the number decoded.
    static unsigned decode_segment(std::string& s);

private:
    bool has(std::uint32_t bit) const { return (components_ & bit) != 0; }
    uri& assign(std::string& member, const std::string& value, std::uint32_t bit);
    // Stores a parsed component and marks it present, even when it is empty.
    void take(std::string& member, std::string value, std::uint32_t bit);
    bool take_authority(const char* first, const char* last);

    void normalize();
    void normalize_http();
    void normalize_ftp();

    // Decodes the escape starting at the '%' under `at` into out; false if it is not one.
    static bool decode_char(std::string::const_iterator at, std::string::const_iterator end, char& out);

    std::string scheme_;
    std::string userinfo_;
    std::string host_;
    std::string port_;
    std::string path_;
    std::string query_;
    std::string fragment_;
    std::uint32_t components_ = 0;
};

} // namespace tav
