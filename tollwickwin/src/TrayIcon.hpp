// The control panel's icon in the notification area.
#pragma once

#include <windows.h>

#include <string>

namespace tollwick {

class TrayIcon {
public:
    // Mouse events on the icon reach the owner as this message, the event in lParam.
    static constexpr UINT kCallbackMessage = WM_USER + 1001;
    static constexpr UINT kIconId = 2025;

    static void Add(HWND owner, HICON icon, const std::string& tip);
    static void Remove(HWND owner);
};

} // namespace tollwick
