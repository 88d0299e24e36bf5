#include "WindowsVersion.hpp"

namespace tollwick {

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);

// RtlGetVersion reports the real version; GetVersionEx may be told a compatible one instead.
bool ReadVersion(OSVERSIONINFOEXW& version) {
    version = {};
    version.dwOSVersionInfoSize = sizeof version;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr)
        return false;
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    return rtlGetVersion != nullptr && rtlGetVersion(&version) == 0;
}

} // namespace

bool IsElevationVersion(DWORD platformId, DWORD major, DWORD minor) {
    return platformId == VER_PLATFORM_WIN32_NT && major == 6 && minor == 0;
}

bool RunningWindowsNeedsElevation() {
    OSVERSIONINFOEXW version;
    if (!ReadVersion(version))
        return false;
    return IsElevationVersion(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion);
}

} // namespace tollwick
