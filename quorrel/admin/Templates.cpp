#include <quorrel/admin/Templates.hpp>
#include <tav/http/html.hpp>

#include <fstream>
#include <sstream>

namespace tav::http::admin {

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
    ReplaceAll(text, placeholder, escape_html(value));
}

std::string MessagesMarkup(const std::vector<std::string>& messages) {
    std::string markup;
    for (const std::string& message : messages) {
        if (!markup.empty())
            markup += "<br>";
        markup += escape_html(message);
    }
    return markup;
}

std::string BuildOptions(const std::vector<std::pair<std::string, std::string>>& items,
                         const std::string& selected, const std::pair<std::string, std::string>* extra,
                         bool extraFirst) {
    const auto option = [&selected](const std::pair<std::string, std::string>& item) {
        return "<option value=\"" + escape_html(item.first) + "\"" +
               (item.first == selected ? " selected>" : ">") + escape_html(item.second) + "</option>";
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
