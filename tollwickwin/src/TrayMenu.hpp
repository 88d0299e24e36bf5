// The menu that a right click on the tray icon opens.
#pragma once

#include "MenuImageCache.hpp"

#include <windows.h>

namespace tollwick {

class TrayMenu {
public:
    // Loads the strip of menu images from the executable's resources.
    void LoadImages(HINSTANCE instance);

    // Opens the menu at the cursor; the chosen item reaches owner as WM_COMMAND.
    void Show(HWND owner);

private:
    MenuImageCache images_;
};

} // namespace tollwick
