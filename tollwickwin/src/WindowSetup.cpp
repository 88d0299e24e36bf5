#include "WindowSetup.hpp"

#include "resource.h"

namespace tollwick {

namespace {

// Shared icons are owned by the system and need no destroying.
HICON LoadProgramIcon(int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TOLLWICK),
                                         IMAGE_ICON, GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR | LR_SHARED));
}

} // namespace

void CenterWindow(HWND window) {
    RECT own;
    if (!GetWindowRect(window, &own))
        return;

    RECT area;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
        area = monitor.rcWork;
    }

    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    int left = area.left + (area.right - area.left - width) / 2;
    int top = area.top + (area.bottom - area.top - height) / 2;
    // A window larger than the area keeps its caption reachable.
    if (left < area.left)
        left = area.left;
    if (top < area.top)
        top = area.top;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetProgramIcons(HWND window) {
    SendMessageA(window, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadProgramIcon(SM_CXICON, SM_CYICON)));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(LoadSmallProgramIcon()));
}

HICON LoadSmallProgramIcon() {
    return LoadProgramIcon(SM_CXSMICON, SM_CYSMICON);
}

} // namespace tollwick
