#pragma once

#include <algorithm>
#include <string>

namespace tav::urlfilter {

// Lowers a character with the classic locale's rule, which lowers A to Z only, whatever the process
// locale: URL paths are compared in lower case, and the database is built with the same rule.
inline char LowerCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return LowerCase(c); });
    return text;
}

} // namespace tav::urlfilter
