#include "ResourceString.hpp"

namespace tollwick {

std::string LoadResourceString(UINT id) {
    char text[512];
    const int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

} // namespace tollwick
