// Start address of the web administration. The filtering proxy answers this pseudo-host itself; the address
// equals the administration root URL configured for the proxy ("admin.root_url").
#pragma once

namespace tollwick {

constexpr const char* kAdministrationAddress = "http://admin.tollwick/";

} // namespace tollwick
