#include <tav/http/header_map.hpp>

#include <algorithm>

namespace tav::http {

void header_map::add(const atom& name, std::string value) {
    fields_.emplace_back(name, std::move(value));
}

void header_map::set(const atom& name, std::string value) {
    auto first =
        std::find_if(fields_.begin(), fields_.end(), [&](const field& f) { return f.first == name; });
    if (first == fields_.end()) {
        add(name, std::move(value));
        return;
    }
    first->second = std::move(value);
    fields_.erase(std::remove_if(first + 1, fields_.end(), [&](const field& f) { return f.first == name; }),
                  fields_.end());
}

void header_map::erase(const atom& name) {
    fields_.erase(
        std::remove_if(fields_.begin(), fields_.end(), [&](const field& f) { return f.first == name; }),
        fields_.end());
}

const std::string* header_map::find(const atom& name) const {
    for (const field& f : fields_)
        if (f.first == name)
            return &f.second;
    return nullptr;
}

} // namespace tav::http
