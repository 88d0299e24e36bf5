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

} // namespace tollwick
