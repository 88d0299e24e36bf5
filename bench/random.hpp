#pragma once

// The benchmarks' numbers and labels: splitmix64, so that the generated sites do not depend on the standard
// library's distributions.

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

constexpr std::uint64_t kGamma = 0x9e3779b97f4a7c15;

inline std::uint64_t Mix(std::uint64_t x) {
    x += kGamma;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9;
    x = (x ^ (x >> 27)) * 0x94d049bb133111eb;
    return x ^ (x >> 31);
}

class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t Below(std::uint64_t bound) {
        const std::uint64_t next = Mix(m_state);
        m_state += kGamma;
        return next % bound;
    }

    // Lower-case letters and digits.
    std::string Label(std::size_t length) {
        static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::string label(length, ' ');
        for (char& c : label)
            c = kChars[Below(sizeof kChars - 1)];
        return label;
    }

private:
    std::uint64_t m_state;
};

} // namespace bench
