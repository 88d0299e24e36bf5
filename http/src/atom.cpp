#include <tav/http/atom.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tav::http {

namespace {

atom::array_type copy(std::string_view name) {
    char* text = new char[name.size() + 1];
    std::memcpy(text, name.data(), name.size());
    text[name.size()] = '\0';
    return atom::array_type(text);
}

std::string lower_case(std::string_view name) {
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

// The interned names by their lower-case spelling; entries are never removed.
struct name_table {
    std::mutex mutex;
    std::unordered_map<std::string, atom::array_type> names;
};

name_table& table() {
    static name_table* names = new name_table; // outlives every static atom that refers to it
    return *names;
}

} // namespace

atom atom::intern(std::string_view name) {
    name_table& names = table();
    std::string key = lower_case(name);
    const std::lock_guard<std::mutex> lock(names.mutex);
    auto found = names.names.find(key);
    if (found == names.names.end())
        found = names.names.emplace(std::move(key), copy(name)).first;
    return atom(found->second);
}

atom atom::make_private(std::string_view name) {
    return atom(copy(name));
}

const atom atom::cache_control_header = atom::intern("Cache-Control");
const atom atom::connection_header = atom::intern("Connection");
const atom atom::content_length_header = atom::intern("Content-Length");
const atom atom::content_type_header = atom::intern("Content-Type");
const atom atom::date_header = atom::intern("Date");
const atom atom::expect_header = atom::intern("Expect");
const atom atom::host_header = atom::intern("Host");
const atom atom::keep_alive_header = atom::intern("Keep-Alive");
const atom atom::proxy_connection_header = atom::intern("Proxy-Connection");
const atom atom::server_header = atom::intern("Server");
const atom atom::transfer_encoding_header = atom::intern("Transfer-Encoding");
const atom atom::user_agent_header = atom::intern("User-Agent");

} // namespace tav::http
