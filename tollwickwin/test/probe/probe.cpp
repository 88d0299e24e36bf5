// Looks at the tray program from outside, for the Wine suite:
//   tollwickwin_probe find CLASS TITLE [CHILD_ID]   one line per top-level window: "visible" or "hidden"
//   tollwickwin_probe text CLASS TITLE CHILD_ID     the text of a control of the first such window
//   tollwickwin_probe close CLASS TITLE [CHILD_ID]  clicks the close box of every visible such window
//   tollwickwin_probe drop-icon                     removes the program's tray icon, as a restarting shell loses it
//   tollwickwin_probe taskbar-created               announces a new taskbar to every top-level window
// "-" as CLASS or TITLE matches any. Exit code 1 when a named window is missing, 2 on bad usage.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char mainClass[] = "_Tollwick_main_class_";
const UINT trayIconId = 2025;

struct Query {
    const char* windowClass;
    const char* title;
    int childId;  // 0: no child required
    std::vector<HWND> found;
};

bool Matches(const char* wanted, const std::string& actual) {
    return std::strcmp(wanted, "-") == 0 || actual == wanted;
}

BOOL CALLBACK Collect(HWND window, LPARAM parameter) {
    auto& query = *reinterpret_cast<Query*>(parameter);
    char windowClass[256] = "";
    char title[256] = "";
    GetClassNameA(window, windowClass, sizeof windowClass);
    GetWindowTextA(window, title, sizeof title);
    if (Matches(query.windowClass, windowClass) && Matches(query.title, title) &&
        (query.childId == 0 || GetDlgItem(window, query.childId) != nullptr))
        query.found.push_back(window);
    return TRUE;
}

std::vector<HWND> Find(const char* windowClass, const char* title, int childId) {
    Query query{windowClass, title, childId, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

int Usage() {
    std::fprintf(stderr, "usage: tollwickwin_probe find|text|close|drop-icon|taskbar-created ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "find" && (argc == 4 || argc == 5)) {
        for (HWND window : Find(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 0))
            std::printf("%s\n", IsWindowVisible(window) ? "visible" : "hidden");
        return 0;
    }
    if (command == "text" && argc == 5) {
        const std::vector<HWND> windows = Find(argv[2], argv[3], std::atoi(argv[4]));
        if (windows.empty()) return 1;
        char text[1024] = "";
        GetDlgItemTextA(windows.front(), std::atoi(argv[4]), text, sizeof text);
        std::printf("%s\n", text);
        return 0;
    }
    if (command == "close" && (argc == 4 || argc == 5)) {
        for (HWND window : Find(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 0))
            if (IsWindowVisible(window)) PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (command == "drop-icon" && argc == 2) {
        HWND main = FindWindowA(mainClass, nullptr);
        if (main == nullptr) return 1;
        NOTIFYICONDATAA icon{};
        icon.cbSize = sizeof icon;
        icon.hWnd = main;
        icon.uID = trayIconId;
        return Shell_NotifyIconA(NIM_DELETE, &icon) ? 0 : 1;
    }
    if (command == "taskbar-created" && argc == 2) {
        return PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0) ? 0 : 1;
    }
    return Usage();
}
