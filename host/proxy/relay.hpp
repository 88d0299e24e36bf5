#pragma once

// One request with an absolute http:// target, relayed to its origin server, and the origin's answer
// relayed back.
//
// The relay decides the request with the policy, resolves the origin's name, connects, sends the request
// head (in origin form, without the fields that concern one connection only, with Via) and the body, then
// reads the answer with a response_parser and hands it to the client's connection piece by piece. When the
// client falls behind, reading from the origin pauses until the answer has drained. Every origin connection
// serves one request. A failure before the answer's head has gone out is answered with 502; after it, the
// client's connection is closed, which is all that HTTP leaves.

#include "forward_proxy.hpp"
#include "response_parser.hpp"

#include <tav/aio_socket_stream.hpp>
#include <tav/http/ext_transaction_base.hpp>

#include <boost/intrusive_ptr.hpp>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace tav::http {

class relay : public ext_transaction_base,
              public aio_socket_stream::handler,
              public aio_socket_stream::writer {
public:
    relay(forward_proxy& proxy, const boost::intrusive_ptr<response_handler>& response,
          const ACE_INET_Addr& local, const ACE_INET_Addr& client);

    void OnRequestHead(const request_head* head) override;
    void OnRequestBody(ACE_Message_Block* body, bool last) override;
    void OnTerminate() override;

    // The origin connection.
    bool handle_input(const boost::intrusive_ptr<aio_socket_stream>& stream) override;
    void handle_input_error(const boost::intrusive_ptr<aio_socket_stream>& stream,
                            const aio_error& error) override;
    void handle_close(const boost::intrusive_ptr<aio_socket_stream>& stream) override;
    void handle_written(const boost::intrusive_ptr<aio_socket_stream>& stream, const void* act) override;
    void handle_write_error(const boost::intrusive_ptr<aio_socket_stream>& stream, const void* act,
                            const aio_error& error) override;

    // From the resolver and the connector.
    void resolved(const std::string& error, const ACE_INET_Addr& origin);
    void connected(const boost::intrusive_ptr<aio_socket_stream>& stream);
    void not_connected(unsigned long error);

protected:
    ~relay() override;

private:
    // The request head as the origin gets it.
    std::string origin_head() const;
    // Sends a body piece to the origin, framed as the request's body is; under mutex_.
    void send_upstream(ACE_Message_Block* body, bool last);
    // Writes to the origin, holding the client's body back while too much of it is on the way; under mutex_.
    void write_upstream(ACE_Message_Block* chain);
    void hold_body(bool hold);
    // Ends the relay with an error status of the proxy's own, or by closing when the answer has begun.
    void fail(int status, const std::string& why);
    // Hands on what the parser has decoded; false to pause reading from the origin.
    bool pass_answer();
    void finish_answer();
    void close_upstream();

    forward_proxy& proxy_;
    boost::intrusive_ptr<forward_proxy> keep_proxy_;
    ACE_INET_Addr local_;
    std::string client_;
    boost::intrusive_ptr<request_head> head_;
    std::recursive_mutex mutex_;
    boost::intrusive_ptr<aio_socket_stream> upstream_;
    // Body pieces that came before the origin connection was open.
    ACE_Message_Block* waiting_body_ = nullptr;
    bool body_done_ = false;
    // The request body's bytes on their way to the origin, in the order written, and whether the client's
    // body is held back until they have gone.
    std::deque<std::size_t> upstream_writes_;
    std::size_t upstream_unsent_ = 0;
    bool holding_body_ = false;
    bool chunked_upstream_ = false;
    std::unique_ptr<response_parser> parser_;
    bool answer_begun_ = false;
    bool over_ = false;
    std::uint64_t bytes_ = 0;
};

} // namespace tav::http
