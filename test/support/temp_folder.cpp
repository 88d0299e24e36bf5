#include "temp_folder.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace support {

temp_folder::temp_folder(const std::string& name, const std::filesystem::path& parent) {
    std::string pattern = (parent / ("tollwick-" + name + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a folder below " + parent.string());
    root_ = pattern;
}

temp_folder::~temp_folder() {
    if (kept_)
        return;
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    // A folder's permissions are given back when it is reached, before it is entered.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_directory(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path temp_folder::write(const std::filesystem::path& relative,
                                         const std::string& content) const {
    const std::filesystem::path file = root_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

std::string temp_folder::read(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

} // namespace support
