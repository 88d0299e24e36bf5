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

protected:
    ~request_head() override;
};

} // namespace tav::http
