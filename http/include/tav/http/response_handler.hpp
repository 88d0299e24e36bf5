#pragma once

// tav::http::response_handler - where a transaction's answer goes: the server's side of one request.
//
// The server makes one per request it hands to an extension. Its operations may be called from any thread,
// one at a time, in the order head, body pieces, end, or a single respond_error instead; a call out of that
// order, or any call after the client has gone, is ignored.

#include <tav/http/export.hpp>
#include <tav/http/request_head.hpp>
#include <tav/http/response_head.hpp>
#include <tav/log_record.hpp>
#include <tav/ref_counted.hpp>

#include <boost/intrusive_ptr.hpp>

#include <cstddef>
#include <functional>

namespace tav::http {

class TAV_HTTP_EXPORT response_handler : public virtual ref_counted {
public:
    ~response_handler() override;

    // The request being answered.
    virtual const request_head& request() const = 0;
    virtual void send_head(const boost::intrusive_ptr<response_head>& head) = 0;
    // Copies the bytes; the caller keeps its buffer.
    virtual void send_body(const void* data, std::size_t size) = 0;
    // Ends the answer; the record's fields, if any, are added to the request's access-log record.
    virtual void send_end(const boost::intrusive_ptr<log_record>& record) = 0;
    // Answers with an error status and a short page holding the text, unless a head was sent already, in
    // which case the connection is closed.
    virtual void respond_error(int status, const char* text) = 0;
    // Adds the record's fields to the request's access-log record before the end, so that an answer the
    // client leaves before it ends is logged with them.
    virtual void note(const boost::intrusive_ptr<log_record>& record) { (void)record; }

    // Flow control, for a transaction that relays a stream it does not hold whole: the bytes of the answer
    // handed over and not yet written to the client, and a call of `resume`, once, from a server thread,
    // when they have dropped to `low` or below (at once when they have already, or when the client has
    // gone). A head that carries Content-Length frames the body that follows by that length.
    virtual std::size_t unsent() const { return 0; }
    // While held, the server reads no more of the request's body (nor anything after it).
    virtual void hold_request_body(bool hold) { (void)hold; }
    virtual void on_drained(std::size_t low, std::function<void()> resume) {
        (void)low;
        resume();
    }
};

} // namespace tav::http
