#pragma once

#include <quorrel/export.hpp>

#include <cstdint>
#include <string>

// Text conventions of the policy: blanks, integers with an empty-value marker, IP addresses.
namespace tav {

// An integer field read from blank text holds this marker; it is written back as empty text.
constexpr std::int32_t EMPTY_VALUE = INT32_MIN;

// True for the five blank characters: space, tab, carriage return, line feed, form feed.
QUORREL_EXPORT bool IsEmpty(char c);
// True when the text is empty or made only of blank characters.
QUORREL_EXPORT bool IsBlank(const std::string& text);
// The text without blank characters at either end.
QUORREL_EXPORT std::string TrimBlanks(const std::string& text);
// Whether two secrets are equal, in a time that depends on their lengths alone and not on where they differ.
QUORREL_EXPORT bool SameSecret(const std::string& a, const std::string& b);

// Reads an integer like strtol in the given radix: blank text gives EMPTY_VALUE, text without
// leading digits gives 0, values beyond the 32-bit range saturate. In radix 16 the whole unsigned
// 32-bit range is read as two's complement, so every value ToString writes reads back unchanged.
QUORREL_EXPORT std::int32_t ToInt(const std::string& text, int radix = 10);
// Writes an integer in radix 10 (signed) or 16 (lowercase two's complement digits, no prefix);
// EMPTY_VALUE is written as empty text.
QUORREL_EXPORT std::string ToString(std::int32_t value, int radix = 10);

// The text with ASCII letters in lower case and, with `cyrillic`, also the Cyrillic letters of windows-1251
// (the policy's own code page), so that words are found whatever the case they are written in.
QUORREL_EXPORT std::string FoldCase(const std::string& text, bool cyrillic);

// Four dot-separated parts, each made only of decimal digits; the values are not range-checked.
QUORREL_EXPORT bool IsIPAddress(const std::string& text);

} // namespace tav
