#pragma once

// tav::http::version - the protocol version of a request or a response.

#include <tav/http/export.hpp>

namespace tav::http {

struct TAV_HTTP_EXPORT version {
    unsigned major;
    unsigned minor;

    static const version one_zero_;
    static const version one_one_;

    bool operator==(const version& other) const { return major == other.major && minor == other.minor; }
    bool operator!=(const version& other) const { return !(*this == other); }
};

} // namespace tav::http
