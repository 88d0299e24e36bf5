#include "Autorun.hpp"

#include <windows.h>

namespace tollwick {

namespace {

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValue = "TollwickRun";

HKEY OpenRunKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

} // namespace

void RegisterAutorun(const std::string& executablePath) {
    HKEY key = OpenRunKey();
    if (key == nullptr)
        return;
    const std::string command = "\"" + executablePath + "\"";
    RegSetValueExA(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
}

void UnregisterAutorun() {
    HKEY key = OpenRunKey();
    if (key == nullptr)
        return;
    RegDeleteValueA(key, kRunValue);
    RegCloseKey(key);
}

} // namespace tollwick
