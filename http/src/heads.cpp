#include <tav/http/request_head.hpp>
#include <tav/http/response_head.hpp>
#include <tav/http/version.hpp>

#include <new>

namespace tav::http {

const version version::one_zero_{1, 0};
const version version::one_one_{1, 1};

request_head::~request_head() = default;

response_head::response_head(int status, std::string reason, const http::version& v)
    : version(v), status_(status), reason_(std::move(reason)) {}

response_head::~response_head() = default;

boost::intrusive_ptr<response_head> response_head::create(int status, const char* reason,
                                                          const http::version& v) {
    if (status < 100 || status > 599)
        return nullptr;
    try {
        return new response_head(status, reason != nullptr ? reason : reason_text(status), v);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const char* reason_text(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 417:
        return "Expectation Failed";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

} // namespace tav::http
