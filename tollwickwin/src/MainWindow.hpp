// The hidden main window: owns the tray icon and its menu, carries out the menu's commands, and lets a second
// start of the program find the running one.
#pragma once

#include "HelpWindow.hpp"
#include "ProxyRestarter.hpp"
#include "TrayMenu.hpp"

#include "WindowSetup.hpp"

#include <windows.h>

#include <memory>

namespace tollwick {

class MainWindow {
public:
    // elevateRestart: how Restart Proxy starts the service-control program (see ProxyRestarter).
    MainWindow(HINSTANCE instance, bool elevateRestart);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;
    ~MainWindow();

    // True when a main window of the program already exists.
    static bool AnotherInstanceRunning();
    // Registers the window class of the main window, a dialog class.
    static bool RegisterWindowClass(HINSTANCE instance);

    // Creates the window hidden; false when it cannot be created.
    bool Create();

    // Gives the help windows their keyboard handling; true when the message needs no further dispatch.
    bool PreTranslateMessage(MSG* message);

private:
    friend INT_PTR CALLBACK DialogProcOf<MainWindow>(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(UINT command);
    void ShowHelp(std::unique_ptr<HelpWindow>& help, int pageId);
    void AddTrayIcon();
    void Exit();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    const UINT taskbarCreated_;
    HICON trayIcon_ = nullptr;
    TrayMenu menu_;
    ProxyRestarter restarter_;
    std::unique_ptr<HelpWindow> testingHelp_;
    std::unique_ptr<HelpWindow> gettingStartedHelp_;
};

} // namespace tollwick
