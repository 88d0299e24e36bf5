// Entry point of the tray control panel: the maintenance switches, or the hidden main window and its
// message loop.
#include "Autorun.hpp"
#include "ComApartment.hpp"
#include "CommandLine.hpp"
#include "Firewall.hpp"
#include "MainWindow.hpp"
#include "ProgramPaths.hpp"
#include "ResourceString.hpp"
#include "WindowsVersion.hpp"
#include "resource.h"

#include <windows.h>

#include <commctrl.h>

namespace {

using namespace tollwick;

// Carries out the switch on the command line, if there is one; true when the program is done.
bool RunMaintenanceSwitch(const char* commandLine) {
    switch (FindSwitch(commandLine)) {
    case Switch::Autorun:
        RegisterAutorun(ExecutablePath());
        return true;
    case Switch::NoAutorun:
        UnregisterAutorun();
        return true;
    case Switch::Setup: {
        ComApartment com;
        ComFirewallFactory factory;
        AddFirewallExceptions(factory, ProgramDirectory());
        return true;
    }
    case Switch::Remove: {
        ComApartment com;
        ComFirewallFactory factory;
        RemoveFirewallExceptions(factory, ProgramDirectory());
        return true;
    }
    case Switch::None:
        break;
    }
    return false;
}

int RunTrayPanel(HINSTANCE instance) {
    ComApartment com;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    const std::string caption = LoadResourceString(IDS_CAPTION);
    if (MainWindow::AnotherInstanceRunning()) {
        MessageBoxA(nullptr, LoadResourceString(IDS_ANOTHER_COPY).c_str(), caption.c_str(),
                    MB_ICONINFORMATION);
        return 0;
    }
    MainWindow::RegisterWindowClass(instance);

    MainWindow window(instance, RunningWindowsNeedsElevation());
    if (!window.Create()) {
        MessageBoxA(nullptr, "Main windows creation failed!\n", caption.c_str(), MB_ICONERROR);
        return 0;
    }

    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (window.PreTranslateMessage(&message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    // Relative paths of the program refer to its own directory.
    const std::string directory = ProgramDirectory();
    if (!directory.empty())
        SetCurrentDirectoryA(directory.c_str());

    if (RunMaintenanceSwitch(commandLine))
        return 0;
    return RunTrayPanel(instance);
}
