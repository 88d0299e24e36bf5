#pragma once

// An origin server for the proxy tests: listens on a free port of 127.0.0.1, reads each request (its head,
// and a body framed by Content-Length or chunked coding) and writes whatever the test's answer function
// gives for it, then closes the connection (or resets it, or, kept alive, waits for the next request). Each
// connection is served on a thread of its own; what it was asked and how many answer bytes it managed to send
// are kept for the test.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_origin {

class origin {
public:
    // The bytes to answer a request with (head and body as received).
    using answer_function = std::function<std::string(const std::string& request)>;

    // What a connection does after an answer: closes; waits for the next request, until the client closes
    // or the answer is empty; or ends with a reset (RST) instead of a close.
    enum class then { close, keep_alive, reset };

    explicit origin(answer_function answer, then after = then::close)
        : answer_(std::move(answer)), after_(after) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4096);
        socklen_t size = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { accept_all(); });
    }
    origin(const origin&) = delete;
    origin& operator=(const origin&) = delete;
    ~origin() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
        for (connection& c : served_)
            c.thread.join();
    }

    std::uint16_t port() const { return port_; }
    std::vector<std::string> requests() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    // Requests are no longer kept for requests(): a test of the proxy's memory must not count the origin's.
    void forget_requests() { keeping_ = false; }
    std::uint64_t sent() const { return sent_; }
    // Connections accepted, and those served to their end or to the client's going away.
    int accepted() const { return accepted_; }
    int finished() const { return finished_; }

private:
    void accept_all() {
        for (;;) {
            pollfd wait{listener_, POLLIN, 0};
            if (::poll(&wait, 1, 100) <= 0) {
                if (stopping_)
                    return;
                continue;
            }
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            // Threads that are done are joined as new ones come, so that the test's own memory stays flat.
            served_.remove_if([](connection& c) {
                if (!c.done)
                    return false;
                c.thread.join();
                return true;
            });
            connection& c = served_.emplace_back();
            c.thread = std::thread([this, fd, &c] {
                serve(fd);
                c.done = true;
            });
        }
    }

    // Reads until `done` says the bytes hold a whole request, or the peer stops.
    static bool read_until(int fd, std::string& bytes, const std::function<bool()>& done) {
        char buffer[65536];
        while (!done()) {
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, 10000) <= 0)
                return false;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    static bool whole(const std::string& bytes) {
        const std::size_t end = bytes.find("\r\n\r\n");
        if (end == std::string::npos)
            return false;
        const std::string head = bytes.substr(0, end + 4);
        const std::size_t length = head.find("Content-Length: ");
        if (length != std::string::npos)
            return bytes.size() >= end + 4 + std::stoul(head.substr(length + 16));
        if (head.find("Transfer-Encoding: chunked") != std::string::npos)
            return bytes.find("\r\n0\r\n\r\n", end) != std::string::npos ||
                   bytes.compare(end + 4, 5, "0\r\n\r\n") == 0;
        return true;
    }

    void serve(int fd) {
        ++accepted_;
        for (std::string request; read_until(fd, request, [&] { return whole(request); }); request.clear()) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (keeping_)
                    requests_.push_back(request);
            }
            const std::string answer = answer_(request);
            for (std::size_t at = 0; at < answer.size();) {
                const ssize_t n = ::send(fd, answer.data() + at,
                                         std::min<std::size_t>(answer.size() - at, 65536), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                at += static_cast<std::size_t>(n);
                sent_ += static_cast<std::uint64_t>(n);
            }
            if (after_ != then::keep_alive || answer.empty())
                break;
        }
        if (after_ == then::reset) {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(fd);
        ++finished_;
    }

    answer_function answer_;
    then after_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> keeping_{true};
    std::thread acceptor_;
    struct connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::list<connection> served_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<int> accepted_{0};
    std::atomic<int> finished_{0};
};

} // namespace test_origin
