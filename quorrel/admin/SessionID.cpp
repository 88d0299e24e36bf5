#include "SessionID.hpp"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>

namespace tav::http::admin {

std::string NewSessionID() {
    constexpr std::size_t length = 16;
    // Bytes from 234 on are dropped: 234 = 9 * 26, so the bytes kept fall on every letter equally often.
    constexpr unsigned char evenLimit = 234;
    std::string id;
    while (id.size() < length) {
        unsigned char bytes[32];
        const ssize_t n = ::getrandom(bytes, sizeof bytes, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("the random source cannot be read");
        }
        for (ssize_t i = 0; i < n && id.size() < length; ++i)
            if (bytes[i] < evenLimit)
                id += static_cast<char>('A' + bytes[i] % 26);
    }
    return id;
}

} // namespace tav::http::admin
