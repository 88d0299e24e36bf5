#pragma once

// tav::http::request_head - the request line and header fields of one request, as the server parsed them.
//
// The server fills it before it asks the extensions for a transaction and never changes it afterwards, so
// any thread may read it from then on.

#include <tav/http/export.hpp>
#include <tav/http/header_map.hpp>
#include <tav/http/version.hpp>
#include <tav/ref_counted.hpp>
#include <tav/uri.hpp>

#include <ace/INET_Addr.h>

#include <optional>
#include <string>

namespace tav::http {

class TAV_HTTP_EXPORT request_head : public ref_counted {
public:
    request_head() = default;

    std::string method;
    // The request target as sent.
    std::string target;
    // The target parsed: a target in absolute form as it is; a target in origin form with the scheme, host
    // and port of the Host field.
    tav::uri uri;
    http::version version{1, 1};
    header_map headers;
    // For a connection that a gateway redirected to the service: the address the client sent it to, where
    // the request goes whatever its target or its TLS server name says. Unset for requests sent to the
    // service or to its proxy.
    std::optional<ACE_INET_Addr> intercepted;

protected:
    ~request_head() override;
};

} // namespace tav::http
