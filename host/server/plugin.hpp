#pragma once

// A plug-in library that offers an extension to the HTTP server: loaded with dlopen, asked for its factory
// through its one plain export, and unloaded when the object goes.

#include <tav/http/extension_factory.hpp>

#include <string>

namespace tav::http {

class plugin {
public:
    plugin() = default;
    plugin(const plugin&) = delete;
    plugin& operator=(const plugin&) = delete;
    ~plugin();

    // Loads the library (a name without a slash is looked up as dlopen does) and finds its factory; false
    // with the reason in `error`.
    bool open(const std::string& file, std::string& error);
    // The factory; only after open() succeeded.
    extension_factory& factory() const { return *factory_; }

private:
    void* library_ = nullptr;
    extension_factory* factory_ = nullptr;
};

} // namespace tav::http
