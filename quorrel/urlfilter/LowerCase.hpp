#pragma once

#include <locale>
#include <string>

namespace tav::urlfilter {

// Lowers text with the classic locale's rules, whatever the process locale: URL paths are compared
// in lower case, and the database is built with the same rule.
inline std::string LowerCase(std::string text) {
    const auto& ctype = std::use_facet<std::ctype<char>>(std::locale::classic());
    ctype.tolower(text.data(), text.data() + text.size());
    return text;
}

} // namespace tav::urlfilter
