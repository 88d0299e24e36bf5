#pragma once

// tav::http::extension_factory - how the server obtains the extension of a plug-in library.
//
// A plug-in exports one plain function, get_extension_factory, that returns its factory; the server loads
// the library, asks the factory for the extension once and hands it back with release_extension when it
// stops, before it unloads the library.

#include <tav/http/active_extension.hpp>
#include <tav/http/export.hpp>
#include <tav/http/server.hpp>

#include <boost/intrusive_ptr.hpp>

namespace tav::http {

class TAV_HTTP_EXPORT extension_factory {
public:
    virtual ~extension_factory();

    // The started extension, or empty when it cannot be made; never throws.
    virtual boost::intrusive_ptr<active_extension>
    create_extension(const boost::intrusive_ptr<server>& owner) = 0;
    // Stops the extension and drops it.
    virtual void release_extension() = 0;
};

// The type of a plug-in's get_extension_factory.
using get_extension_factory_function = extension_factory* (*)();

// The name under which a plug-in exports it.
inline constexpr const char* get_extension_factory_name = "get_extension_factory";

} // namespace tav::http
