#pragma once

// One request of a connection and its answer: the response handler that an extension writes to.
//
// The exchange frames what it is given as HTTP/1.1: an answer whose head declares its length goes out with
// it as the body comes, one that ends while its body is small goes out with Content-Length, a longer one
// with chunked coding (to an HTTP/1.0 client: delimited by closing the connection). The answer to HEAD
// carries no body. A successful answer to CONNECT goes out at once, without framing: its body is the
// tunnel's bytes, and its end is the origin's end: the client reads the end of the stream after the last
// bytes, while the connection goes on carrying the client's bytes to the tunnel; a respond_error after that
// end (the tunnel failed) closes the connection. The connection closes after any other answer to CONNECT,
// and after an answer that begins while the client waits for "100 Continue": the body may or may not follow
// then, and nothing would tell it from the next request. The bytes wait in the exchange until the connection
// takes them, which it does in the order of its requests. A TLS connection that a gateway redirected gets
// no head at all: the tunnel's bytes, or the connection's close. Every operation runs under the connection's
// lock; once the connection has gone the exchange ignores what it is told.

#include <tav/http/ext_transaction_base.hpp>
#include <tav/http/request_head.hpp>
#include <tav/http/response_handler.hpp>
#include <tav/http/response_head.hpp>
#include <tav/log_record.hpp>

#include <ace/Message_Block.h>

#include <boost/intrusive_ptr.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tav::http {

class connection;

class exchange : public response_handler {
public:
    // `keep_alive`: whether the request lets the connection stay open after the answer.
    exchange(const boost::intrusive_ptr<connection>& owner, const boost::intrusive_ptr<request_head>& head,
             bool keep_alive);

    const request_head& request() const override { return *head_; }
    void send_head(const boost::intrusive_ptr<response_head>& head) override;
    void send_body(const void* data, std::size_t size) override;
    void send_end(const boost::intrusive_ptr<log_record>& record) override;
    void respond_error(int status, const char* text) override;
    void note(const boost::intrusive_ptr<log_record>& record) override;
    std::size_t unsent() const override;
    void hold_request_body(bool hold) override;
    void on_drained(std::size_t low, std::function<void()> resume) override;

    // For the connection, under its lock.
    // The client waits for "100 Continue" before it sends the body.
    void await_continue() { awaits_continue_ = true; }
    // An interim "100 Continue", sent before the answer.
    void send_continue();
    // An answer of the server's own: a short page with the status and the text, and the fields given;
    // `close` ends the connection after it.
    void answer(int status, const std::string& text, bool close,
                const std::vector<std::pair<std::string, std::string>>& fields = {});
    // The bytes ready to be sent, or null; the caller owns the chain.
    ACE_Message_Block* take_output();
    // Whether the answer has begun: a head was given, or the server answered.
    bool started() const { return response_ != nullptr; }
    bool finished() const { return finished_; }
    // Whether every byte that the answer's head announced has been taken: the client can have the whole
    // answer before its end is given.
    bool complete() const;
    // Whether the answer is a tunnel's that its origin ended: the connection sends the end of the stream and
    // reads on.
    bool half_closes() const { return half_closes_; }
    // Whether bytes of the answer have gone to the client's socket: it has an answer, if perhaps not all.
    bool begun() const { return begun_; }
    // Whether the connection closes once this answer is sent.
    bool closes() const { return closes_; }
    // The access-log record of the exchange, finished or begun.
    boost::intrusive_ptr<log_record> record() const;
    // The transaction that answers, told when the connection goes before its answer is finished.
    void set_transaction(const boost::intrusive_ptr<ext_transaction_base>& transaction);
    // The connection has gone: nothing more is sent. Returns what is left to do, if anything, for the
    // connection to call once it holds no lock: the waiter of on_drained, and ending the transaction.
    std::function<void()> abandon();
    // `bytes` of what take_output gave have been written (or discarded); returns the waiter to call, if
    // the answer has drained far enough for it.
    std::function<void()> written(std::size_t bytes);

protected:
    ~exchange() override;

private:
    // Sends the status line and fields, framed by Content-Length when `length` is known, else chunked or
    // by closing.
    void emit_head(const std::string* length);
    void emit(const std::string& bytes);
    void emit(const char* data, std::size_t size);
    void emit_body(const char* data, std::size_t size);
    void finish();
    void add_fields(const boost::intrusive_ptr<log_record>& record);
    // Runs an operation of the response handler under the connection's lock, then lets the connection send.
    template <class F> void from_extension(const F& operation);

    const boost::intrusive_ptr<connection> owner_;
    // Held until the answer is finished or abandoned.
    boost::intrusive_ptr<ext_transaction_base> transaction_;
    bool gone_ = false;
    boost::intrusive_ptr<request_head> head_;
    boost::intrusive_ptr<response_head> response_;
    boost::intrusive_ptr<log_record> extra_;
    ACE_Message_Block* output_ = nullptr;
    // The body held back while it may still be sent with a Content-Length.
    std::string held_;
    std::uint64_t body_bytes_ = 0;
    int status_ = 0;
    bool keep_alive_;
    bool head_request_;
    bool connect_request_;
    // An intercepted TLS connection: its client asked no proxy, so nothing but the tunnel's bytes goes to it
    // and a refusal closes the connection.
    bool silent_;
    // The answer opens a tunnel: its bytes go out as they are.
    bool tunnel_ = false;
    bool head_emitted_ = false;
    bool chunked_ = false;
    bool finished_ = false;
    bool begun_ = false;
    bool closes_ = false;
    bool half_closes_ = false;
    // The client waits for "100 Continue", which has not been sent.
    bool awaits_continue_ = false;
    // The body length the extension's head declared, if any.
    std::optional<std::uint64_t> declared_;
    // The head just emitted is not sent before the body that follows it.
    bool head_waits_ = false;
    std::size_t unsent_ = 0;
    std::size_t drained_low_ = 0;
    std::function<void()> drained_;
};

} // namespace tav::http
