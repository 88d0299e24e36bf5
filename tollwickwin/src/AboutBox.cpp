#include "AboutBox.hpp"

#include "ResourceString.hpp"
#include "WindowSetup.hpp"
#include "resource.h"

#include <cstdio>

namespace tollwick {

void AboutBox::Run(HINSTANCE instance, HWND owner) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, DialogProc, 0);
}

INT_PTR CALLBACK AboutBox::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        Initialise(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void AboutBox::Initialise(HWND dialog) {
    CenterWindow(dialog);
    SetForegroundWindow(dialog);
    SetWindowTextA(dialog, LoadResourceString(IDS_ABOUT_TITLE).c_str());
    char version[128];
    std::snprintf(version, sizeof version, LoadResourceString(IDS_VERSION_FORMAT).c_str(),
                  TOLLWICK_VERSION_TEXT);
    SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, version);
    SetDlgItemTextA(dialog, IDC_ABOUT_NOTICE, LoadResourceString(IDS_NOTICE).c_str());
}

} // namespace tollwick
