#pragma once

// Hexadecimal digits of percent-escapes, shared by the URI and its canonical form.

namespace tav::hex {

// Upper-case digits, as escapes are written.
inline constexpr char digits[] = "0123456789ABCDEF";

// The value of a hexadecimal digit of either case, or -1.
inline int value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace tav::hex
