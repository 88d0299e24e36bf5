#pragma once

#include <quorrel/Text.hpp>

#include <string>

namespace tav {

// The administrator password in the policy file: each byte is substituted through a fixed table
// after mixing it with the previous output byte, and written as upper-case hexadecimal.
class PasswordScrambler {
public:
    // A blank password gives empty text.
    static std::string Scramble(const std::string& password);
    static std::string Unscramble(const std::string& text);
};

} // namespace tav
