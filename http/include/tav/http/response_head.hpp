#pragma once

// tav::http::response_head - the status line and header fields of one response.
//
// Made with create() and handed to the server through a transaction; the server adds the fields that
// frame the body (Content-Length or Transfer-Encoding, Connection) itself.

#include <tav/http/export.hpp>
#include <tav/http/header_map.hpp>
#include <tav/http/version.hpp>
#include <tav/ref_counted.hpp>

#include <boost/intrusive_ptr.hpp>

#include <string>

namespace tav::http {

class TAV_HTTP_EXPORT response_head : public ref_counted {
public:
    // A head with the status (100 to 599), the reason text (null: the usual one for the status) and the
    // version; empty when the status is out of range or memory runs out.
    static boost::intrusive_ptr<response_head> create(int status, const char* reason, const version& v);

    int status() const { return status_; }
    const std::string& reason() const { return reason_; }

    http::version version;
    header_map headers;

protected:
    ~response_head() override;

private:
    response_head(int status, std::string reason, const http::version& v);

    int status_;
    std::string reason_;
};

// The usual reason text of a status, or "Unknown".
TAV_HTTP_EXPORT const char* reason_text(int status);

} // namespace tav::http
