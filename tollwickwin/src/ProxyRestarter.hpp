// Restarts the filtering service by starting the service-control program Brindle from the program directory.
#pragma once

#include <windows.h>

namespace tollwick {

class ProxyRestarter {
public:
    // elevate: start Brindle through the "runas" verb (Windows 6.0) instead of directly.
    explicit ProxyRestarter(bool elevate) : elevate_(elevate) {}

    // Starts Brindle without arguments and without waiting for it; a failure is shown in a message box.
    void Restart(HWND owner) const;

private:
    void StartElevated(HWND owner, const char* path) const;
    void StartDirectly(HWND owner, const char* path) const;

    bool elevate_;
};

} // namespace tollwick
