#pragma once

// What a relayed request and a tunnel share: a connection to the origin server, bytes carried both ways
// with back-pressure, the client's usage, and the deadline of a silent origin.
//
// The transaction asks the proxy for a connection to the origin and queues the client's bytes until it is
// open. Bytes to the origin go out in order; while too many are on their way, the client's connection
// stops reading. Bytes from the origin go to the client as the derived class frames them; while the client
// falls behind, reading from the origin pauses until the client has caught up. The proxy's timer calls
// check() every second: an origin that sends nothing and takes nothing for the proxy's origin timeout ends
// the transaction (a wait for a slow client does not count), and the client's usage is reported every few
// seconds while bytes move, and once at the end.
//
// Lock order: the origin stream's lock, then the transaction's, then the client connection's. The stream's
// direct operations are never called under the transaction's lock.

#include "forward_proxy.hpp"

#include <tav/aio_socket_stream.hpp>
#include <tav/http/ext_transaction_base.hpp>

#include <boost/intrusive_ptr.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace tav::http {

class proxy_transaction : public ext_transaction_base,
                          public aio_socket_stream::handler,
                          public aio_socket_stream::writer {
public:
    using clock = std::chrono::steady_clock;

    void OnRequestBody(ACE_Message_Block* body, bool last) override;
    void OnTerminate() override;
    // The client has gone: ends the transaction even when its answer had ended, as a tunnel's does when the
    // origin has ended first while the client's bytes still go to it.
    void terminate_request() override;

    // The origin connection.
    bool handle_input(const boost::intrusive_ptr<aio_socket_stream>& stream) override;
    void handle_input_error(const boost::intrusive_ptr<aio_socket_stream>& stream,
                            const aio_error& error) override;
    void handle_close(const boost::intrusive_ptr<aio_socket_stream>& stream) override;
    void handle_written(const boost::intrusive_ptr<aio_socket_stream>& stream, const void* act) override;
    void handle_write_error(const boost::intrusive_ptr<aio_socket_stream>& stream, const void* act,
                            const aio_error& error) override;

    // For the proxy's timer: reports usage that is due and ends a transaction whose origin fell silent.
    void check(clock::time_point now);

protected:
    proxy_transaction(forward_proxy& proxy, const boost::intrusive_ptr<response_handler>& response,
                      const ACE_INET_Addr& local, const ACE_INET_Addr& client);
    ~proxy_transaction() override;

    // Opens the connection to host:port (an idle one of the pool when `reuse`), then calls on_connected.
    void dial(const std::string& host, unsigned short port, bool reuse = false);
    // After a connection of the pool failed before anything of the answer came (its origin closed it while
    // it was idle), opens a new one for a request that sent no body; under mutex_. False when it may not.
    bool retry();
    // Gives the origin connection, whose answer ended cleanly, to the pool; from the stream's callback,
    // under mutex_. False, and nothing done, when the whole request has not gone to the origin.
    bool keep_upstream();
    // The origin connection is open; under mutex_. Sends what must go first; reading starts after it.
    virtual void on_connected() = 0;
    // Frames a piece of the client's body for the origin; under mutex_.
    virtual ACE_Message_Block* frame_upstream(ACE_Message_Block* body, bool last);
    // The client's last piece has been handed to the origin connection; under mutex_.
    virtual void on_request_sent() {}
    // Takes what the origin sent from `in`; under mutex_. Returns false to pause reading (after pausing
    // with pass_down or ending the transaction).
    virtual bool take_input(ACE_Message_Block& in, bool peer_closed) = 0;
    // The origin has gone quiet for too long, or closed; under mutex_, with the transaction not yet over.
    virtual void on_silent_origin();
    virtual void on_origin_closed();
    // The proxy's timer looks at the transaction; under mutex_, with the transaction not yet over.
    virtual void on_check(clock::time_point /*now*/) {}

    // Writes to the origin; under mutex_.
    void write_upstream(ACE_Message_Block* chain);
    // Hands bytes from the origin to the client and counts them; under mutex_.
    void pass_down(const char* data, std::size_t size);
    // False when the client has fallen behind: reading from the origin resumes once it has caught up.
    bool client_caught_up();
    // Ends the transaction; under mutex_ or not. The first call wins: it answers with `status` and `why`
    // while nothing of the answer has gone out, else closes the client's connection.
    void fail(int status, const std::string& why);
    // The access-log fields of the proxy's decision; a refusal also goes into the history. An allowed
    // transaction that went to a safe address has "safe:ADDRESS" for its reason.
    boost::intrusive_ptr<log_record> decision(const char* verdict, const std::string& reason);
    // Marks the transaction over, reports usage and closes the origin connection; under mutex_. False when
    // it already was.
    bool end();
    // Reports the bytes counted since the last report; under mutex_.
    void report();

    forward_proxy& proxy_;
    std::string client_;
    // The policy's answer to the request, which its usage is counted by; set before the origin is dialled.
    DataModel::Verdict verdict_;
    // What the history names the request by: the site's host and, for http://, its path; and whether it
    // is a tunnel.
    std::string site_;
    std::string site_path_;
    bool secure_ = false;
    // Where safe search or YouTube's restriction sends the transaction instead of its host; set before the
    // origin is dialled.
    SafeSearch::Redirect safe_;
    ACE_INET_Addr local_;
    std::recursive_mutex mutex_;
    bool over_ = false;
    boost::intrusive_ptr<aio_socket_stream> upstream_;

private:
    void open(bool reuse);
    void connected(const boost::intrusive_ptr<aio_socket_stream>& stream, bool reused);
    void send_upstream(ACE_Message_Block* body, bool last);
    void hold_body(bool hold);
    void touch();

    boost::intrusive_ptr<forward_proxy> keep_proxy_;
    std::string host_;
    unsigned short port_ = 0;
    bool reused_ = false;
    // Body pieces that came before the origin connection was open.
    ACE_Message_Block* waiting_body_ = nullptr;
    // Whether the client's last body piece has come, and the body bytes sent to the origin.
    bool request_done_ = false;
    std::uint64_t body_sent_ = 0;
    // The client's bytes on their way to the origin, in the order written, and whether the client is held
    // back until they have gone.
    std::deque<std::size_t> upstream_writes_;
    std::size_t upstream_unsent_ = 0;
    bool holding_body_ = false;
    // Waiting for the client to catch up, which stops the origin's deadline.
    bool waiting_for_client_ = false;
    // Whether the origin was asked for: only then is the client's use reported.
    bool dialed_ = false;
    std::atomic<clock::rep> last_activity_;
    std::uint64_t unreported_ = 0;
    clock::time_point last_report_;
};

} // namespace tav::http
