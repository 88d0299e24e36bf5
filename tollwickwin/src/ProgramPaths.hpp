// Where the running executable lives.
#pragma once

#include <string>

namespace tollwick {

// Full path of the running executable; empty when it cannot be read.
std::string ExecutablePath();

// Directory of the running executable with a trailing backslash; empty when it cannot be read.
std::string ProgramDirectory();

} // namespace tollwick
