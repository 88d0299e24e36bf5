#pragma once

// One client connection of the HTTP server.
//
// The stream's input callback reads the requests with a request_parser, one at a time, and hands each to
// the extension that takes it (the server answers what none takes, and refuses TRACE). Answers come back
// from the extensions' threads through the exchanges and leave in the order of the requests; at most a few
// requests may wait for their answers before reading pauses. A fault in a request is answered with its
// status, after which the connection closes. A client that ends its side (a half-close) still gets the
// answers to the requests it sent; the connection closes once they are out (an answer whose every byte
// is out is not waited for further). The server closes a connection whose deadline passes: a request head
// must arrive whole within the head timeout (the first one counted from the connection's start), a body
// must keep coming, and an idle connection between requests lasts the idle timeout. After a CONNECT request
// that an extension takes, the connection carries a tunnel: no more requests are read, the tunnel's
// transaction watches its own time, and either side's end is passed on.
//
// An intercepted connection is one that a gateway's firewall redirected to the service: its client sent it
// to another address, which the firewall recorded. One that was sent to the service itself is closed at
// once. Its first bytes, which must come within the intercept timeout, decide what it carries: a TLS
// handshake makes it a tunnel (a CONNECT to that address, marked intercepted), anything else is read as
// requests in origin form for the site that their Host field names. Either way its requests name the address
// that they must go to.

#include "request_parser.hpp"

#include <tav/acceptor.hpp>
#include <tav/aio_socket_stream.hpp>
#include <tav/http/ext_transaction_base.hpp>

#include <boost/intrusive_ptr.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tav::http {

class exchange;
class http_server;

class connection : public session, public aio_socket_stream::handler, public aio_socket_stream::writer {
public:
    using clock = std::chrono::steady_clock;
    using stream_ptr = boost::intrusive_ptr<aio_socket_stream>;

    connection(const boost::intrusive_ptr<http_server>& server, bool intercepted);

    bool open_session(ACE_HANDLE handle, ACE_Message_Block& initial_data, ACE_Proactor* proactor,
                      const ACE_INET_Addr& remote, const ACE_INET_Addr& local) override;
    // Stops reading and closes once the answers already queued are sent.
    void close_session() override;

    bool handle_input(const stream_ptr& stream) override;
    void handle_input_error(const stream_ptr& stream, const aio_error& error) override;
    void handle_close(const stream_ptr& stream) override;
    void handle_written(const stream_ptr& stream, const void* act) override;
    void handle_write_error(const stream_ptr& stream, const void* act, const aio_error& error) override;

    // Closes the connection when its deadline has passed by `now`.
    void check_deadline(clock::time_point now);

    // For the exchanges: the lock of the answer queue, and sending what the queue allows (under it).
    std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock<std::recursive_mutex>(mutex_); }
    void pump();
    // For the transaction of the request being read: stops (or resumes) reading its body.
    void hold_input(bool hold);

protected:
    ~connection() override;

private:
    // Parses what the input block holds; false to pause reading.
    bool read_requests(ACE_Message_Block& in);
    // The head of the current request is complete: finds its extension.
    void route();
    // Hands the body parsed so far to the request's transaction.
    void pass_body(bool last);
    // The current request is complete.
    void finish_request();
    // A CONNECT request that an extension took is complete: what the client sends from now on is the
    // tunnel's, and goes to the transaction as it comes.
    void start_tunnel();
    bool pass_tunnel(ACE_Message_Block& in);
    // The first bytes of an intercepted connection are a TLS handshake: it carries a tunnel.
    void intercept_tls();
    // What a request in origin form stands for.
    const tav::uri& origin_site() const;
    // Answers a request that cannot be read with its status and closes.
    void refuse(int status);
    // The client sent its last byte.
    void peer_closed();
    void set_deadline(clock::duration from_now);
    // Gives up an answer the client will not get, keeping its waiter for flush_waiters; under mutex_.
    void abandon(exchange& answer);
    // Calls the waiters of abandoned answers; with no lock held.
    void flush_waiters();
    void clear_deadline();

    boost::intrusive_ptr<http_server> server_;
    stream_ptr stream_;
    ACE_INET_Addr remote_;
    ACE_INET_Addr local_;
    // Whether a gateway redirected the connection, and where its client sent it.
    const bool intercepted_;
    ACE_INET_Addr destination_;
    // http://destination/, what its requests in origin form stand for when they name no site.
    tav::uri destination_site_;
    // The request being read, with its exchange and its transaction (none when the server answers it).
    std::unique_ptr<request_parser> parser_;
    boost::intrusive_ptr<exchange> current_;
    boost::intrusive_ptr<ext_transaction_base> transaction_;

    std::recursive_mutex mutex_;
    // Reading has ended for good: a fault, the client's end, or a request that closes the connection.
    // Written under mutex_ by the input callback.
    bool reading_done_ = false;
    // The client has ended its side; written under mutex_ by the input callback.
    bool client_ended_ = false;
    // A request is being read; written under mutex_ by the input callback.
    bool in_request_ = false;
    // The current transaction is a tunnel; written by the input callback.
    bool tunnel_ = false;
    // Whether the first bytes of an intercepted connection have been looked at; by the input callback.
    bool sniffed_ = false;
    // The answers not yet wholly sent, in the order of their requests; under mutex_.
    std::deque<boost::intrusive_ptr<exchange>> answers_;
    bool paused_ = false;
    // The transaction holds its request body back, and reading has paused for it; under mutex_.
    bool body_held_ = false;
    bool paused_for_body_ = false;
    // The flow-control waiters of abandoned answers, to be called outside the lock; under mutex_.
    std::vector<std::function<void()>> waiters_;
    bool closing_ = false;
    // Steady-clock ticks after which the connection is closed; 0 for none.
    std::atomic<clock::rep> deadline_{0};
};

} // namespace tav::http
