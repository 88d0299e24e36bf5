#include "HelpWindow.hpp"

#include "BrowserHost.hpp"
#include "ProgramPaths.hpp"
#include "ResourceString.hpp"
#include "Widen.hpp"
#include "WindowSetup.hpp"
#include "resource.h"

#include <string>

namespace tollwick {

HelpWindow::HelpWindow(HINSTANCE instance, HWND owner, int pageId)
    : instance_(instance), owner_(owner), pageId_(pageId) {}

HelpWindow::~HelpWindow() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

void HelpWindow::Show() {
    if (window_ == nullptr) {
        CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_HELP), owner_, DialogProcOf<HelpWindow>,
                           reinterpret_cast<LPARAM>(this));
        if (window_ == nullptr)
            return;
    }
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
}

bool HelpWindow::PreTranslateMessage(MSG* message) {
    if (window_ == nullptr || (message->hwnd != window_ && !IsChild(window_, message->hwnd)))
        return false;
    const bool key = message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST;
    if (key && browser_ != nullptr && browser_->HandleKey(message))
        return true;
    return IsDialogMessageA(window_, message) != FALSE;
}

INT_PTR HelpWindow::HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        window_ = dialog;
        OnInitDialog();
        return TRUE;
    case WM_SIZE:
        OnSize();
        return TRUE;
    case WM_COMMAND:
        // The close box arrives as Cancel and only hides the window; OK does nothing.
        if (LOWORD(wParam) == IDCANCEL)
            ShowWindow(window_, SW_HIDE);
        return LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    default:
        return FALSE;
    }
}

void HelpWindow::OnInitDialog() {
    CenterWindow(window_);
    SetForegroundWindow(window_);
    SetProgramIcons(window_);
    SetWindowTextA(window_, LoadResourceString(IDS_CAPTION).c_str());

    HWND pane = GetDlgItem(window_, IDC_HELP_BROWSER);
    if (pane == nullptr)
        return;
    OnSize();
    browser_ = BrowserHost::Create(pane);
    const std::string executable = ExecutablePath();
    if (browser_ == nullptr || executable.empty())
        return;
    browser_->Navigate(Widen("res://" + executable + "/" + std::to_string(pageId_)));
}

void HelpWindow::OnSize() {
    HWND pane = GetDlgItem(window_, IDC_HELP_BROWSER);
    if (pane == nullptr)
        return;
    RECT client;
    GetClientRect(window_, &client);
    MoveWindow(pane, 0, 0, client.right, client.bottom, TRUE);
    if (browser_ != nullptr)
        browser_->FitToContainer();
}

void HelpWindow::OnDestroy() {
    if (browser_ != nullptr) {
        browser_->Close();
        browser_->Release();
        browser_ = nullptr;
    }
    SetWindowLongPtrA(window_, DWLP_USER, 0);
    window_ = nullptr;
}

} // namespace tollwick
