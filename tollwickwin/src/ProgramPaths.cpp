#include "ProgramPaths.hpp"

#include <windows.h>

namespace tollwick {

std::string ExecutablePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::string();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        // The buffer was too small and the name got cut; try again with more room.
        if (path.size() >= 32768)
            return std::string();
        path.resize(path.size() * 2);
    }
}

std::string ProgramDirectory() {
    const std::string path = ExecutablePath();
    const std::size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

} // namespace tollwick
