#pragma once

// tav::http::admin::LoginBrake - a brake on guessing the administrator password or the security answer:
// failed attempts are counted per client address, and an address that fails `attempts` times within `window`
// is locked out for `window` (the right password included), while other addresses go on as before. At most
// `addresses` addresses are kept; past that the one heard from longest ago is forgotten. The clock is the
// caller's. Thread-safe.

#include <quorrel/export.hpp>

#include <chrono>
#include <cstddef>
#include <list>
#include <map>
#include <mutex>
#include <string>

namespace tav::http::admin {

class QUORREL_EXPORT LoginBrake {
public:
    using clock = std::chrono::steady_clock;

    LoginBrake(std::size_t attempts = 5, clock::duration window = std::chrono::minutes(15),
               std::size_t addresses = 10000);

    // How long the address must still wait before it may try again; zero when it may.
    clock::duration Wait(const std::string& client, clock::time_point now);
    // Counts a failed attempt; true when it locks the address out.
    bool Failed(const std::string& client, clock::time_point now);
    // A right answer: the address's failures are forgotten.
    void Succeeded(const std::string& client);

private:
    struct Entry {
        std::list<clock::time_point> failures; // within the window, oldest first
        clock::time_point lockedUntil{};
        std::list<std::string>::iterator age;
    };
    // The address's entry, made the youngest (made when `create`); null when it has none.
    Entry* Find(const std::string& client, bool create);

    const std::size_t m_attempts;
    const clock::duration m_window;
    const std::size_t m_addresses;
    std::mutex m_attemptsMutex;
    std::map<std::string, Entry> m_entries;
    // The addresses, the one heard from longest ago first.
    std::list<std::string> m_ages;
};

} // namespace tav::http::admin
