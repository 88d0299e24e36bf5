#pragma once

// Loopback sockets for the asynchronous tests, with the event loop helpers.

#include "event_loop.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace loopback {

using namespace std::chrono_literals;
using namespace event_loop;

// A descriptor closed when it goes out of scope.
struct fd_guard {
    int fd = -1;
    explicit fd_guard(int f = -1) : fd(f) {}
    fd_guard(const fd_guard&) = delete;
    fd_guard& operator=(const fd_guard&) = delete;
    ~fd_guard() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

inline sockaddr_in address(unsigned short port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// A TCP socket bound to an ephemeral port of 127.0.0.1, listening when asked.
inline int loopback_socket(bool listening, unsigned short* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = address(0);
    socklen_t length = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        (listening && ::listen(fd, 64) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        ADD_FAILURE() << "loopback socket: " << std::strerror(errno);
        return fd;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

// A blocking client socket connected to 127.0.0.1:port, with a five-second receive timeout; -1 on failure.
inline int connect_to(unsigned short port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = address(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

// Both ends of a connected loopback TCP connection; both blocking, with a receive timeout.
struct tcp_pair {
    fd_guard a, b;
    tcp_pair() {
        unsigned short port = 0;
        fd_guard listener(loopback_socket(true, &port));
        a.fd = connect_to(port);
        EXPECT_GE(a.fd, 0);
        b.fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        EXPECT_GE(b.fd, 0);
        timeval timeout{5, 0};
        ::setsockopt(b.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
};

// Reads until `size` bytes came or the peer closed or the receive timed out.
inline std::string receive(int fd, size_t size) {
    std::string data;
    char buf[65536];
    while (data.size() < size) {
        ssize_t n = ::recv(fd, buf, std::min(sizeof buf, size - data.size()), 0);
        if (n <= 0)
            break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

// Bytes waiting unread in a socket's receive queue, or -1.
inline int unread_bytes(int fd) {
    int n = -1;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// True when the peer has closed: a read gives end of stream (or a reset) before the timeout.
inline bool peer_closed(int fd) {
    char c;
    ssize_t n = ::recv(fd, &c, 1, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

} // namespace loopback
