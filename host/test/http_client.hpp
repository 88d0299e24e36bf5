#pragma once

// A blocking HTTP/1.1 client over a loopback socket, for the server tests: writes raw bytes and reads
// answers one at a time with Boost.Beast's response parser. Every read gives up after ten seconds.

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>

namespace http_client {

struct response {
    int status = 0;
    std::map<std::string, std::string> fields; // names in lower case
    std::string body;
    bool has(const std::string& name) const { return fields.count(name) != 0; }
};

class client {
public:
    // Connects to 127.0.0.1:`port`, from the loopback address `from` (another computer, as the server sees
    // it) when one is given.
    explicit client(std::uint16_t port, const char* from = nullptr) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval wait{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        sockaddr_in address{};
        if (from != nullptr) {
            address.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &address.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    client(const client&) = delete;
    client& operator=(const client&) = delete;
    ~client() { close(); }

    bool connected() const { return connected_; }
    bool send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    // The next answer; nullopt when the connection closed or ten seconds passed first. `head_request`: the
    // answer to HEAD, which has no body whatever its fields say.
    std::optional<response> read(bool head_request = false) {
        namespace bhttp = boost::beast::http;
        bhttp::response_parser<bhttp::string_body> parser;
        parser.body_limit(std::numeric_limits<std::uint64_t>::max());
        parser.skip(head_request);
        for (;;) {
            if (!pending_.empty()) {
                boost::beast::error_code ec;
                const std::size_t used = parser.put(boost::asio::buffer(pending_), ec);
                pending_.erase(0, used);
                if (ec && ec != bhttp::error::need_more)
                    return std::nullopt;
                if (parser.is_done())
                    break;
                if (used > 0 && !pending_.empty())
                    continue;
            }
            char buffer[65536];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                if (!parser.got_some())
                    return std::nullopt;
                boost::beast::error_code ec;
                parser.put_eof(ec);
                if (!ec && parser.is_done())
                    break;
                return std::nullopt;
            }
            pending_.append(buffer, static_cast<std::size_t>(n));
            received_.append(buffer, static_cast<std::size_t>(n));
        }
        response r;
        r.status = parser.get().result_int();
        for (const auto& field : parser.get()) {
            std::string name(field.name_string());
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            r.fields[name] = std::string(field.value());
        }
        r.body = parser.get().body();
        return r;
    }
    // Whether something has come to be read (bytes, or the end of the connection), waiting up to `ms`
    // milliseconds for it.
    bool readable(int ms) {
        pollfd wait{fd_, POLLIN, 0};
        return !pending_.empty() || ::poll(&wait, 1, ms) > 0;
    }
    // Every byte received so far, for the report of a failed check.
    const std::string& received() const { return received_; }
    // The raw bytes that arrive until `count` are there, the connection closes or ten seconds pass.
    std::string read_bytes(std::size_t count) {
        while (pending_.size() < count) {
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
        std::string bytes = pending_.substr(0, count);
        pending_.erase(0, bytes.size());
        return bytes;
    }
    // True when the server has closed: a read gives the end of the stream (or a reset) within ten seconds.
    bool closed_by_server() {
        char c;
        const ssize_t n = ::recv(fd_, &c, 1, 0);
        return n == 0 || (n < 0 && errno == ECONNRESET);
    }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string pending_;
    std::string received_;
};

} // namespace http_client
