#include <quorrel/Text.hpp>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace tav {

bool IsEmpty(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool IsBlank(const std::string& text) {
    for (char c : text)
        if (!IsEmpty(c))
            return false;
    return true;
}

std::string TrimBlanks(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsEmpty(text[first]))
        ++first;
    while (last > first && IsEmpty(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::int32_t ToInt(const std::string& text, int radix) {
    if (IsBlank(text))
        return EMPTY_VALUE;
    const long long value = std::strtoll(text.c_str(), nullptr, radix);
    if (radix == 16 && value > std::numeric_limits<std::int32_t>::max() &&
        value <= std::numeric_limits<std::uint32_t>::max())
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::string ToString(std::int32_t value, int radix) {
    if (value == EMPTY_VALUE)
        return std::string();
    if (radix != 16)
        return std::to_string(value);
    static const char digits[] = "0123456789abcdef";
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    std::string text;
    do {
        text.insert(text.begin(), digits[bits % 16]);
        bits /= 16;
    } while (bits != 0);
    return text;
}

bool IsIPAddress(const std::string& text) {
    int parts = 0;
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = std::min(text.find('.', begin), text.size());
        if (end == begin || ++parts > 4)
            return false;
        for (std::size_t i = begin; i < end; ++i)
            if (text[i] < '0' || text[i] > '9')
                return false;
        if (end == text.size())
            return parts == 4;
        begin = end + 1;
    }
}

} // namespace tav
