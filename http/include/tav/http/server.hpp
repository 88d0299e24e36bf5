#pragma once

// tav::http::server - what an extension sees of the HTTP server that loaded it.

#include <tav/http/export.hpp>
#include <tav/ref_counted.hpp>

class ACE_Proactor;

namespace tav::http {

class TAV_HTTP_EXPORT server : public virtual ref_counted {
public:
    ~server() override;

    // The proactor whose threads run the server's connections; extensions post their commands to it.
    virtual ACE_Proactor* proactor() const = 0;
};

} // namespace tav::http
