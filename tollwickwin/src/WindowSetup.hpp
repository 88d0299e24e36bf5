// Steps that every window of the control panel takes when it is created.
#pragma once

#include <windows.h>

namespace tollwick {

// Centres the window over its owner, or over the work area of its monitor when the owner is hidden or
// missing.
void CenterWindow(HWND window);

// Sets the big and small window icons to the program icon in the system's icon sizes.
void SetProgramIcons(HWND window);

// The program icon in the size of the small system icons, as the tray shows it.
HICON LoadSmallProgramIcon();

// The dialog procedure of a window object: the object comes with WM_INITDIALOG, is kept in DWLP_USER and
// is given every message as Window::HandleMessage(dialog, message, wParam, lParam).
template <class Window>
INT_PTR CALLBACK DialogProcOf(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrA(dialog, DWLP_USER));
    return self != nullptr ? self->HandleMessage(dialog, message, wParam, lParam) : FALSE;
}

} // namespace tollwick
