#pragma once

// TLS ClientHellos for tests: real ones (curl's and chromium's, both naming site.example) and made ones.

#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>

namespace tls_hello {

inline std::string seed(const std::string& name) {
    std::ifstream file(std::string(CLIENT_HELLO_SEEDS) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// `value` in `bytes` bytes, most significant first.
inline std::string length(std::size_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
}

// A ClientHello with the given extensions, cut into records of at most `record` bytes.
inline std::string hello(const std::string& extensions, std::size_t record = 16384) {
    const std::string body = "\x03\x03" + std::string(32, 'r') + std::string("\x00", 1) + length(2, 2) +
                             "\x13\x01" + std::string("\x01\x00", 2) + length(extensions.size(), 2) +
                             extensions;
    const std::string message = "\x01" + length(body.size(), 3) + body;
    std::string out;
    for (std::size_t at = 0; at < message.size(); at += record) {
        const std::string piece = message.substr(at, record);
        out += "\x16\x03\x01" + length(piece.size(), 2) + piece;
    }
    return out;
}

// A server_name extension naming `name`.
inline std::string server_name(const std::string& name) {
    const std::string entry = std::string("\x00", 1) + length(name.size(), 2) + name;
    return length(0, 2) + length(entry.size() + 2, 2) + length(entry.size(), 2) + entry;
}

} // namespace tls_hello
