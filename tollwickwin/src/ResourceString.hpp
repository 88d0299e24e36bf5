// Strings from the string table of the running executable.
#pragma once

#include <windows.h>

#include <string>

namespace tollwick {

// The string with the given ID; empty when the table has none.
std::string LoadResourceString(UINT id);

} // namespace tollwick
