// The Run value and the program's own paths, against the real registry of the Wine prefix. The
// previous Run value is put back afterwards.
#include "Autorun.hpp"
#include "ProgramPaths.hpp"
#include "check.hpp"

#include <windows.h>

#include <optional>

namespace {

const char runKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char valueName[] = "TollwickRun";

struct RunValue {
    DWORD type;
    std::string data;  // with its terminating zero, as stored
    bool operator==(const RunValue& other) const { return type == other.type && data == other.data; }
};

std::ostream& operator<<(std::ostream& out, const RunValue& value) {
    return out << "type " << value.type << " \"" << value.data.c_str() << "\" (" << value.data.size() << " bytes)";
}

std::optional<RunValue> ReadRunValue() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, runKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    std::optional<RunValue> value;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
            ERROR_SUCCESS) {
            data.resize(size);
            value = RunValue{type, data};
        }
    }
    RegCloseKey(key);
    return value;
}

void WriteRunValue(const std::optional<RunValue>& value) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, runKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (value)
        RegSetValueExA(key, valueName, 0, value->type, reinterpret_cast<const BYTE*>(value->data.data()),
                       static_cast<DWORD>(value->data.size()));
    else
        RegDeleteValueA(key, valueName);
    RegCloseKey(key);
}

}  // namespace


TEST_CASE(autorun_stores_the_quoted_path_and_removes_it) {
    const std::optional<RunValue> before = ReadRunValue();
    const std::string path = "C:\\Program Files\\Tollwick\\TollwickW.exe";
    const std::string quoted = "\"" + path + "\"";

    tollwick::RegisterAutorun(path);
    const std::optional<RunValue> stored = ReadRunValue();
    CHECK(stored.has_value());
    if (stored) CHECK_EQ(*stored, (RunValue{REG_SZ, quoted + '\0'}));

    tollwick::UnregisterAutorun();
    CHECK(!ReadRunValue().has_value());
    tollwick::UnregisterAutorun();
    CHECK(!ReadRunValue().has_value());

    WriteRunValue(before);
}

TEST_CASE(program_paths_name_this_executable) {
    char module[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    CHECK(length > 0 && length < MAX_PATH);
    const std::string path(module, length);
    CHECK_EQ(tollwick::ExecutablePath(), path);
    const std::string directory = path.substr(0, path.rfind('\\') + 1);
    CHECK_EQ(tollwick::ProgramDirectory(), directory);
    CHECK(!directory.empty() && directory.back() == '\\');
}
