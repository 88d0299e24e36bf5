#include "MainWindow.hpp"

#include "AboutBox.hpp"
#include "AdministrationAddress.hpp"
#include "ResourceString.hpp"
#include "TrayIcon.hpp"
#include "WindowSetup.hpp"
#include "resource.h"

#include <shellapi.h>

namespace tollwick {

namespace {

constexpr const char* kWindowClass = "_Tollwick_main_class_";

} // namespace

MainWindow::MainWindow(HINSTANCE instance, bool elevateRestart)
    : instance_(instance), taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")),
      restarter_(elevateRestart) {}

MainWindow::~MainWindow() {
    // The help windows are owned by the main window and go with it.
    if (window_ != nullptr)
        DestroyWindow(window_);
}

bool MainWindow::AnotherInstanceRunning() {
    return FindWindowA(kWindowClass, nullptr) != nullptr;
}

bool MainWindow::RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS | CS_SAVEBITS | CS_BYTEALIGNWINDOW;
    windowClass.lpfnWndProc = DefDlgProcA;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TOLLWICK));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassA(&windowClass) != 0;
}

bool MainWindow::Create() {
    CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DialogProcOf<MainWindow>,
                       reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr)
        return false;
    ShowWindow(window_, SW_HIDE);
    return true;
}

bool MainWindow::PreTranslateMessage(MSG* message) {
    for (const auto* help : {&testingHelp_, &gettingStartedHelp_}) {
        if (*help && (*help)->PreTranslateMessage(message))
            return true;
    }
    return false;
}

INT_PTR MainWindow::HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated_) {
        // The shell was restarted and lost the icon.
        AddTrayIcon();
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        window_ = dialog;
        OnInitDialog();
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return TRUE;
    case TrayIcon::kCallbackMessage:
        if (lParam == WM_RBUTTONDOWN)
            menu_.Show(window_);
        return TRUE;
    case WM_DESTROY:
        SetWindowLongPtrA(window_, DWLP_USER, 0);
        window_ = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}

void MainWindow::OnInitDialog() {
    SetProgramIcons(window_);
    menu_.LoadImages(instance_);
    trayIcon_ = LoadSmallProgramIcon();
    AddTrayIcon();
}

void MainWindow::OnCommand(UINT command) {
    switch (command) {
    case ID_TESTING_PROGRAM:
        ShowHelp(testingHelp_, IDR_HELP_TESTING);
        break;
    case ID_GETTING_STARTED:
        ShowHelp(gettingStartedHelp_, IDR_HELP_GETTING_STARTED);
        break;
    case ID_RESTART_PROXY:
        restarter_.Restart(window_);
        break;
    case ID_SETTING_UP_FILTRATION:
        ShellExecuteA(window_, "open", kAdministrationAddress, nullptr, nullptr, SW_SHOWNORMAL);
        break;
    case ID_ABOUT:
        AboutBox::Run(instance_, GetActiveWindow());
        break;
    case ID_EXIT:
        Exit();
        break;
    default:
        break;
    }
}

void MainWindow::ShowHelp(std::unique_ptr<HelpWindow>& help, int pageId) {
    if (!help)
        help = std::make_unique<HelpWindow>(instance_, window_, pageId);
    help->Show();
}

void MainWindow::AddTrayIcon() {
    TrayIcon::Add(window_, trayIcon_, LoadResourceString(IDS_CAPTION));
}

void MainWindow::Exit() {
    TrayIcon::Remove(window_);
    DestroyWindow(window_);
    PostQuitMessage(0);
}

} // namespace tollwick
