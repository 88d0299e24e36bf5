#include "TrayMenu.hpp"

#include "ResourceString.hpp"
#include "resource.h"

#include <vector>

namespace tollwick {

namespace {

struct MenuItem {
    UINT command; // 0 for a separator
    UINT text;
    int imageCell; // -1 for no image
};

constexpr MenuItem kItems[] = {
    {ID_TESTING_PROGRAM, IDS_TESTING_PROGRAM, -1},
    {ID_GETTING_STARTED, IDS_GETTING_STARTED, -1},
    {0, 0, -1},
    {ID_RESTART_PROXY, IDS_RESTART_PROXY, 1},
    {ID_SETTING_UP_FILTRATION, IDS_SETTING_UP_FILTRATION, -1},
    {ID_ABOUT, IDS_ABOUT, 2},
    {0, 0, -1},
    {ID_EXIT, IDS_EXIT, 0},
};

// A cursor outside every monitor (a display just removed) is brought into the nearest monitor's work area.
POINT MenuPosition() {
    POINT position = {0, 0};
    GetCursorPos(&position);
    if (MonitorFromPoint(position, MONITOR_DEFAULTTONULL) != nullptr)
        return position;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromPoint(position, MONITOR_DEFAULTTONEAREST), &monitor))
        return position;
    if (position.x < monitor.rcWork.left)
        position.x = monitor.rcWork.left;
    if (position.x > monitor.rcWork.right)
        position.x = monitor.rcWork.right;
    return position;
}

} // namespace

void TrayMenu::LoadImages(HINSTANCE instance) {
    images_.SetStrip(static_cast<HBITMAP>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDB_MENU_IMAGES), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

void TrayMenu::Show(HWND owner) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return;

    const int imageWidth = GetSystemMetrics(SM_CXMENUCHECK);
    const int imageHeight = GetSystemMetrics(SM_CYMENUCHECK);
    std::vector<HBITMAP> freshImages;
    for (const MenuItem& item : kItems) {
        if (item.command == 0) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        AppendMenuA(menu, MF_STRING, item.command, LoadResourceString(item.text).c_str());
        if (item.imageCell < 0)
            continue;
        HBITMAP image = images_.Image(item.imageCell, imageWidth, imageHeight, freshImages);
        if (image != nullptr)
            SetMenuItemBitmaps(menu, item.command, MF_BYCOMMAND, image, image);
    }

    const POINT position = MenuPosition();
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(owner);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, position.x, position.y, 0, owner, nullptr);
    PostMessageA(owner, WM_NULL, 0, 0);
    DestroyMenu(menu);
    for (HBITMAP image : freshImages)
        DeleteObject(image);
}

} // namespace tollwick
