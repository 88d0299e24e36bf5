#include <quorrel/admin/Templates.hpp>
#include <tav/http/html.hpp>

#include <fstream>
#include <sstream>

namespace tav::http::admin {

namespace {

bool IsPlaceholderChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A value escaped for HTML, and a "%" that could open a placeholder too: a value that looks like one must
// not be filled by a later step of the page.
std::string EscapeValue(const std::string& value) {
    const std::string escaped = escape_html(value);
    std::string safe;
    safe.reserve(escaped.size());
    for (std::size_t at = 0; at < escaped.size(); ++at) {
        if (escaped[at] == '%' && at + 1 < escaped.size() && IsPlaceholderChar(escaped[at + 1]))
            safe += "&#37;";
        else
            safe += escaped[at];
    }
    return safe;
}

} // namespace

bool ReadTemplate(const std::string& path, std::string& text) {
    text.clear();
    std::ifstream file(path);
    if (!file)
        return false;
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return true;
}

void ReplaceAll(std::string& text, const std::string& placeholder, const std::string& replacement) {
    if (placeholder.empty())
        return;
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + replacement.size())) {
        text.replace(at, placeholder.size(), replacement);
    }
}

void FillMarkup(std::string& text, const std::string& placeholder, const std::string& markup) {
    ReplaceAll(text, placeholder, markup);
}

void FillText(std::string& text, const std::string& placeholder, const std::string& value) {
    ReplaceAll(text, placeholder, EscapeValue(value));
}

std::string MessagesMarkup(const std::vector<std::string>& messages) {
    std::string markup;
    for (const std::string& message : messages) {
        if (!markup.empty())
            markup += "<br>";
        markup += EscapeValue(message);
    }
    return markup;
}

std::string BuildOptions(const std::vector<std::pair<std::string, std::string>>& items,
                         const std::string& selected, const std::pair<std::string, std::string>* extra,
                         bool extraFirst) {
    const auto option = [&selected](const std::pair<std::string, std::string>& item) {
        return "<option value=\"" + EscapeValue(item.first) + "\"" +
               (item.first == selected ? " selected>" : ">") + EscapeValue(item.second) + "</option>";
    };
    std::string options;
    if (extra != nullptr && extraFirst)
        options += option(*extra);
    for (const auto& item : items)
        options += option(item);
    if (extra != nullptr && !extraFirst)
        options += option(*extra);
    return options;
}

} // namespace tav::http::admin

namespace tav::http::admin {

void ClearPlaceholders(std::string& text) {
    std::string cleared;
    cleared.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = at + 1;
        if (text[at] == '%') {
            while (end < text.size() && IsPlaceholderChar(text[end]))
                ++end;
            if (end < text.size() && text[end] == '%' && end > at + 1 &&
                text.compare(at, end + 1 - at, "%SESSION_ID%") != 0) {
                at = end + 1;
                continue;
            }
            end = at + 1;
        }
        cleared.append(text, at, end - at);
        at = end;
    }
    text.swap(cleared);
}

} // namespace tav::http::admin
