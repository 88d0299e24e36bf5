#pragma once

// A CONNECT request: a blind tunnel to host:port, for HTTPS.
//
// The tunnel is decided with the policy for HTTPS and reaches only the ports the proxy allows. A refused
// tunnel gets 403 with the reason in its body and in a Proxy-Status field. An allowed one opens the origin
// connection, answers "200 Connection established", and from then on carries bytes both ways unchanged.
// Each side's end is passed on to the other after the bytes before it (a half-close), and the other side's
// bytes keep going until it ends too; then the tunnel is over. A failure (the origin's connection breaks, or
// it falls silent) closes the client's connection.

#include "proxy_transaction.hpp"

namespace tav::http {

class tunnel : public proxy_transaction {
public:
    tunnel(forward_proxy& proxy, const boost::intrusive_ptr<response_handler>& response,
           const ACE_INET_Addr& local, const ACE_INET_Addr& client);

    void OnRequestHead(const request_head* head) override;
    void OnRequestBody(ACE_Message_Block* body, bool last) override;

private:
    void on_connected() override;
    void on_request_sent() override;
    bool take_input(ACE_Message_Block& in, bool peer_closed) override;
    void on_silent_origin() override;
    void on_origin_closed() override;
    void refuse(const std::string& reason);
    // Both sides have ended.
    void close();
    // Ends the tunnel and closes the client's connection.
    void broken(int status, const std::string& why);

    // Whether the client's end, and the origin's, have been passed on; under mutex_.
    bool client_ended_ = false;
    bool origin_ended_ = false;
};

} // namespace tav::http
