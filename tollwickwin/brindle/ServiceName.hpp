// Name of the Windows service that hosts the filtering proxy.
#pragma once

namespace tollwick {

constexpr const char* kServiceName = "ZunService";

} // namespace tollwick
