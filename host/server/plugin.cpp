#include "plugin.hpp"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <vector>

namespace tav::http {

namespace {

// The folders the dynamic loader searches for the libraries that the object holding this code needs, its
// run path among them. dlopen finds a bare name there too, unless something stands between it and its
// caller (a sanitizer's interceptor does), so the plug-in is looked for here first.
std::vector<std::string> search_path() {
    std::vector<std::string> folders;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&search_path), &info) == 0 || info.dli_fname == nullptr)
        return folders;
    void* self = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (self == nullptr)
        return folders;
    Dl_serinfo size{};
    if (::dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0) {
        std::vector<char> buffer(size.dls_size);
        auto* list = reinterpret_cast<Dl_serinfo*>(buffer.data());
        *list = size;
        if (::dlinfo(self, RTLD_DI_SERINFO, list) == 0)
            for (unsigned i = 0; i < list->dls_cnt; ++i)
                folders.emplace_back(list->dls_serpath[i].dls_name);
    }
    ::dlclose(self);
    return folders;
}

// The file to load: a name without a slash as found in the search path, else as given.
std::string located(const std::string& file) {
    if (file.find('/') != std::string::npos)
        return file;
    for (const std::string& folder : search_path()) {
        std::string path = folder + "/";
        path += file;
        if (::access(path.c_str(), R_OK) == 0)
            return path;
    }
    return file;
}

} // namespace

plugin::~plugin() {
    if (library_ != nullptr)
        ::dlclose(library_);
}

bool plugin::open(const std::string& file, std::string& error) {
    library_ = ::dlopen(located(file).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        error = ::dlerror();
        return false;
    }
    auto get =
        reinterpret_cast<get_extension_factory_function>(::dlsym(library_, get_extension_factory_name));
    factory_ = get != nullptr ? get() : nullptr;
    if (factory_ == nullptr) {
        error = file + " offers no extension (" + get_extension_factory_name + ")";
        ::dlclose(library_);
        library_ = nullptr;
        return false;
    }
    return true;
}

} // namespace tav::http
