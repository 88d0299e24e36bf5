#include <tav/http/html.hpp>

namespace tav::http {

std::string escape_html(std::string_view text) {
    std::string safe;
    safe.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            safe += "&amp;";
            break;
        case '<':
            safe += "&lt;";
            break;
        case '>':
            safe += "&gt;";
            break;
        case '"':
            safe += "&quot;";
            break;
        case '\'':
            safe += "&#39;";
            break;
        default:
            safe += c;
        }
    }
    return safe;
}

} // namespace tav::http
