#include "ProxyRestarter.hpp"

#include "ProgramPaths.hpp"
#include "ResourceString.hpp"
#include "resource.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace tollwick {

namespace {

constexpr const char* kServiceControlProgram = "Brindle.exe";

void ShowError(HWND owner, const char* format, DWORD error) {
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(error));
    MessageBoxA(owner, text, LoadResourceString(IDS_CAPTION).c_str(), MB_ICONERROR);
}

} // namespace

void ProxyRestarter::Restart(HWND owner) const {
    const std::string path = ProgramDirectory() + kServiceControlProgram;
    if (elevate_) {
        StartElevated(owner, path.c_str());
    } else {
        StartDirectly(owner, path.c_str());
    }
}

void ProxyRestarter::StartElevated(HWND owner, const char* path) const {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = "runas";
    info.lpFile = path;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info))
        ShowError(owner, "Error: ShellExecuteEx failed 0x%x\n", GetLastError());
}

void ProxyRestarter::StartDirectly(HWND owner, const char* path) const {
    // The quotes keep a directory name with spaces in it from being read as a program and its arguments.
    std::string commandLine = std::string("\"") + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ShowError(owner, "Error: CreateProcess failed 0x%x\n", GetLastError());
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace tollwick
