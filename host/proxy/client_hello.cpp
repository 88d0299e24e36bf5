#include "client_hello.hpp"

#include <algorithm>

namespace tav::http {

namespace {

constexpr unsigned char handshake_record = 22;
constexpr unsigned char client_hello_message = 1;
constexpr std::size_t record_header = 5;
constexpr std::size_t largest_record = 16 * 1024;
constexpr std::size_t server_name_extension = 0;
constexpr std::size_t host_name_entry = 0;

// Bytes read in order; every read that would pass the end fails instead.
class cursor {
public:
    cursor() = default;
    cursor(const unsigned char* at, std::size_t size) : at_(at), left_(size) {}

    bool empty() const { return left_ == 0; }
    bool skip(std::size_t size) {
        if (size > left_)
            return false;
        at_ += size;
        left_ -= size;
        return true;
    }
    // A big-endian number of `size` bytes.
    bool number(std::size_t size, std::size_t& value) {
        if (size > left_)
            return false;
        value = 0;
        for (std::size_t i = 0; i < size; ++i)
            value = value << 8 | at_[i];
        return skip(size);
    }
    // A vector whose length comes first, in `size` bytes.
    bool vector(std::size_t size, cursor& inner) {
        std::size_t length = 0;
        if (!number(size, length) || length > left_)
            return false;
        inner = cursor(at_, length);
        return skip(length);
    }
    const unsigned char* data() const { return at_; }
    std::size_t size() const { return left_; }

private:
    const unsigned char* at_ = nullptr;
    std::size_t left_ = 0;
};

bool host_name_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

// The host name of a server_name extension, or false when the extension is not what it says.
bool read_server_name(cursor extension, std::string& name) {
    cursor list;
    if (!extension.vector(2, list) || !extension.empty())
        return false;
    while (!list.empty()) {
        std::size_t type = 0;
        cursor entry;
        if (!list.number(1, type) || !list.vector(2, entry))
            return false;
        if (type != host_name_entry || !name.empty())
            continue;
        if (entry.empty() || entry.size() > 255 ||
            !std::all_of(entry.data(), entry.data() + entry.size(), host_name_byte))
            return false;
        name.assign(reinterpret_cast<const char*>(entry.data()), entry.size());
    }
    return true;
}

// The server name of a whole ClientHello body.
bool read_body(cursor body, std::string& name) {
    cursor ignored;
    if (!body.skip(2 + 32) || !body.vector(1, ignored) || !body.vector(2, ignored) ||
        !body.vector(1, ignored))
        return false;
    if (body.empty())
        return true; // no extensions
    cursor extensions;
    if (!body.vector(2, extensions) || !body.empty())
        return false;
    bool named = false;
    while (!extensions.empty()) {
        std::size_t type = 0;
        cursor extension;
        if (!extensions.number(2, type) || !extensions.vector(2, extension))
            return false;
        if (type != server_name_extension)
            continue;
        if (named || !read_server_name(extension, name))
            return false; // a second server_name extension is not allowed
        named = true;
    }
    return true;
}

} // namespace

client_hello::state client_hello::read(const char* data, std::size_t size, std::string& server_name) {
    server_name.clear();
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (size == 0)
        return state::need_more;
    if (bytes[0] != handshake_record || (size > 1 && bytes[1] != 3))
        return state::not_tls;
    // The handshake message, gathered from the payloads of the records that carry it.
    std::string message;
    std::size_t at = 0;
    for (;;) {
        if (message.size() >= 4) {
            if (static_cast<unsigned char>(message[0]) != client_hello_message)
                return state::malformed;
            const std::size_t length = static_cast<std::size_t>(static_cast<unsigned char>(message[1]))
                                           << 16 |
                                       static_cast<std::size_t>(static_cast<unsigned char>(message[2])) << 8 |
                                       static_cast<unsigned char>(message[3]);
            if (length + 4 + record_header > limit)
                return state::malformed;
            if (message.size() >= length + 4) {
                const auto* body = reinterpret_cast<const unsigned char*>(message.data()) + 4;
                if (read_body(cursor(body, length), server_name))
                    return state::done;
                server_name.clear();
                return state::malformed;
            }
        }
        if (at + record_header > size)
            return size >= limit ? state::malformed : state::need_more;
        const std::size_t length = std::size_t{bytes[at + 3]} << 8 | bytes[at + 4];
        if (bytes[at] != handshake_record || bytes[at + 1] != 3 || length == 0 || length > largest_record)
            return state::malformed;
        if (at + record_header + length > size)
            return at + record_header + length > limit ? state::malformed : state::need_more;
        message.append(data + at + record_header, length);
        at += record_header + length;
    }
}

} // namespace tav::http
