// The About box: program version and notice line.
#pragma once

#include <windows.h>

namespace tollwick {

class AboutBox {
public:
    // Runs the box modally until OK or the close box ends it.
    static void Run(HINSTANCE instance, HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static void Initialise(HWND dialog);
};

} // namespace tollwick
