#include <tav/canonical_uri.hpp>

#include "hex.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <string_view>

namespace tav {
namespace {

bool is_upper(char c) {
    return c >= 'A' && c <= 'Z';
}

char to_lower(char c) {
    return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// RFC 3986's unreserved characters: their escapes mean the same as the characters themselves.
bool is_unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || is_upper(static_cast<char>(c)) || is_digit(static_cast<char>(c)) ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

// Decodes the escapes of unreserved characters and writes the others in upper case. A '%' that starts no
// escape is itself escaped, so that no escape can form from what decoding put beside it. With `lower`, ASCII
// letters outside escapes come out in lower case.
std::string normal_escapes(const std::string& text, bool lower) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c != '%') {
            out += lower ? to_lower(c) : c;
            continue;
        }
        const int high = at + 2 < text.size() ? hex::value(text[at + 1]) : -1;
        const int low = at + 2 < text.size() ? hex::value(text[at + 2]) : -1;
        if (high < 0 || low < 0) {
            out += "%25";
            continue;
        }
        const auto byte = static_cast<unsigned char>(high * 16 + low);
        if (is_unreserved(byte)) {
            out += lower ? to_lower(static_cast<char>(byte)) : static_cast<char>(byte);
        } else {
            out += '%';
            out += hex::digits[byte >> 4];
            out += hex::digits[byte & 0x0F];
        }
        at += 2;
    }
    return out;
}

// A host the resolver may read as an IPv4 number: digits, hexadecimal digits, 'x' and dots, from a digit on.
bool may_be_ipv4(const std::string& host) {
    return !host.empty() && is_digit(host.front()) && std::all_of(host.begin(), host.end(), [](char c) {
        return is_digit(c) || (c >= 'a' && c <= 'f') || c == 'x' || c == '.';
    });
}

std::string canonical_host(const std::string& host) {
    std::string out = normal_escapes(host, true);
    while (!out.empty() && out.back() == '.')
        out.pop_back();
    char text[INET6_ADDRSTRLEN] = "";
    if (may_be_ipv4(out)) {
        in_addr address{};
        if (inet_aton(out.c_str(), &address) != 0 &&
            inet_ntop(AF_INET, &address, text, sizeof text) != nullptr)
            out = text;
    } else if (out.size() > 2 && out.front() == '[' && out.back() == ']') {
        in6_addr address{};
        if (inet_pton(AF_INET6, out.substr(1, out.size() - 2).c_str(), &address) == 1 &&
            inet_ntop(AF_INET6, &address, text, sizeof text) != nullptr)
            out = std::string("[") + text + "]";
    }
    return out;
}

// RFC 3986, 5.2.4: "." and ".." segments removed, ".." taking the segment before it along.
std::string without_dot_segments(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    std::size_t at = 0;
    const auto rest_is = [&path, &at](const char* text, std::size_t size) {
        return path.compare(at, size, text) == 0 && (at + size == path.size() || path[at + size] == '/');
    };
    const auto drop_last_segment = [&out] {
        const std::size_t slash = out.rfind('/');
        out.erase(slash == std::string::npos ? 0 : slash);
    };
    while (at < path.size()) {
        if (path.compare(at, 3, "../") == 0) {
            at += 3;
        } else if (path.compare(at, 2, "./") == 0) {
            at += 2;
        } else if (rest_is("/.", 2)) {
            at += 2;
            if (at == path.size())
                out += '/';
        } else if (rest_is("/..", 3)) {
            at += 3;
            drop_last_segment();
            if (at == path.size())
                out += '/';
        } else if (path.compare(at, std::string::npos, ".") == 0 ||
                   path.compare(at, std::string::npos, "..") == 0) {
            at = path.size();
        } else {
            const std::size_t end = path.find('/', at + 1);
            const std::size_t stop = end == std::string::npos ? path.size() : end;
            out.append(path, at, stop - at);
            at = stop;
        }
    }
    return out;
}

std::string merged_slashes(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (const char c : path)
        if (c != '/' || out.empty() || out.back() != '/')
            out += c;
    return out;
}

std::string canonical_path(const std::string& path, bool merged) {
    std::string out = without_dot_segments(normal_escapes(path, false));
    return merged ? merged_slashes(out) : out;
}

// Whether the text has a segment "." or "..", or (when `merged`) an empty one between two slashes. A view,
// whose searches are memchr itself.
bool has_dot_or_empty_segment(std::string_view path, bool merged) {
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "." || segment == "..")
            return true;
        if (merged && segment.empty() && start > 0 && end < path.size())
            return true;
        start = end + 1;
    }
    return false;
}

// The usual host or path needs no work; anything unusual is checked by making its canonical form.
bool host_is_canonical(const std::string& host) {
    const bool plain =
        std::none_of(host.begin(), host.end(), [](char c) { return is_upper(c) || c == '%'; }) &&
        (host.empty() || (host.back() != '.' && host.front() != '['));
    return plain && !may_be_ipv4(host) ? true : canonical_host(host) == host;
}

bool path_is_canonical(const std::string& path, bool merged) {
    const std::string_view view(path);
    if (view.find('%') == std::string_view::npos && !has_dot_or_empty_segment(view, merged))
        return true;
    return canonical_path(path, merged) == path;
}

} // namespace

bool is_canonical(const uri& address, bool merged) {
    return std::none_of(address.scheme().begin(), address.scheme().end(), is_upper) &&
           host_is_canonical(address.host()) && path_is_canonical(address.path(), merged);
}

void canonicalize(uri& address, bool merged) {
    if (address.has_scheme()) {
        std::string scheme = address.scheme();
        std::transform(scheme.begin(), scheme.end(), scheme.begin(), to_lower);
        address.scheme(scheme);
    }
    if (address.has_host())
        address.host(canonical_host(address.host()));
    if (address.has_path())
        address.path(canonical_path(address.path(), merged));
}

bool is_ip_host(const std::string& host) {
    in_addr ipv4{};
    return (!host.empty() && host.front() == '[') || host.find(':') != std::string::npos ||
           (may_be_ipv4(host) && std::count(host.begin(), host.end(), '.') == 3 &&
            inet_pton(AF_INET, host.c_str(), &ipv4) == 1);
}

} // namespace tav
