// The Windows version test behind the choice of how the proxy is restarted.
#pragma once

#include <windows.h>

namespace tollwick {

// Windows 6.0 (workstation and server alike) starts the service-control program elevated; the 9x family,
// 5.x and later versions start it directly.
bool IsElevationVersion(DWORD platformId, DWORD major, DWORD minor);

// The test applied to the running system, read from its extended version information.
bool RunningWindowsNeedsElevation();

} // namespace tollwick
