// Conversion of text in the active code page to UTF-16.
#pragma once

#include <string>

namespace tollwick {

std::wstring Widen(const std::string& text);

} // namespace tollwick
