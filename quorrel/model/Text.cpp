#include <quorrel/Text.hpp>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace tav {

namespace {

// Lower case of every byte: ASCII letters, and the capitals of windows-1251's Cyrillic letters.
struct FoldTable {
    unsigned char ascii[256];
    unsigned char cyrillic[256];

    FoldTable() : ascii(), cyrillic() {
        for (int c = 0; c < 256; ++c)
            ascii[c] = cyrillic[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        for (int c = 0xC0; c <= 0xDF; ++c)
            cyrillic[c] = static_cast<unsigned char>(c + 0x20);
        // The capitals outside the basic alphabet: Ђ Ѓ Љ Њ Ќ Ћ Џ Ў Ј Ґ Ё Є Ї І Ѕ.
        const unsigned char pairs[][2] = {{0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C},
                                          {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2},
                                          {0xA3, 0xBC}, {0xA5, 0xB4}, {0xA8, 0xB8}, {0xAA, 0xBA},
                                          {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
        for (const auto& pair : pairs)
            cyrillic[pair[0]] = pair[1];
    }
};

const FoldTable FOLD_TABLE;

} // namespace

std::string FoldCase(const std::string& text, bool cyrillic) {
    const unsigned char* table = cyrillic ? FOLD_TABLE.cyrillic : FOLD_TABLE.ascii;
    std::string folded(text);
    for (char& c : folded)
        c = static_cast<char>(table[static_cast<unsigned char>(c)]);
    return folded;
}

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

bool SameSecret(const std::string& a, const std::string& b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    const std::size_t length = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < length; ++i)
        differ |= static_cast<unsigned char>((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0));
    return differ == 0;
}

} // namespace tav
