#pragma once

// A new session ID: 16 capital letters "A" to "Z", each drawn evenly from the system's random source, so
// that nobody can work one out from the time of a login.

#include <string>

namespace tav::http::admin {

// Throws std::runtime_error when the random source cannot be read.
std::string NewSessionID();

} // namespace tav::http::admin
