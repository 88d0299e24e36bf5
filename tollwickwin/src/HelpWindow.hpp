// A window that shows one help page from the executable's HTML resources in the web-browser control.
#pragma once

#include "WindowSetup.hpp"

#include <windows.h>

namespace tollwick {

class BrowserHost;

class HelpWindow {
public:
    // The window is made on the first Show and then kept, hidden or shown, with its page.
    HelpWindow(HINSTANCE instance, HWND owner, int pageId);
    HelpWindow(const HelpWindow&) = delete;
    HelpWindow& operator=(const HelpWindow&) = delete;
    ~HelpWindow();

    void Show();

    // Handles a message of the message loop meant for this window: keys for the browser, dialog navigation.
    bool PreTranslateMessage(MSG* message);

private:
    friend INT_PTR CALLBACK DialogProcOf<HelpWindow>(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnSize();
    void OnDestroy();

    HINSTANCE instance_;
    HWND owner_;
    int pageId_;
    HWND window_ = nullptr;
    BrowserHost* browser_ = nullptr;
};

} // namespace tollwick
