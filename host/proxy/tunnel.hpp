#pragma once

// A CONNECT request: a blind tunnel to host:port, for HTTPS.
//
// The tunnel is decided with the policy for HTTPS and reaches only the ports the proxy allows. A refused
// tunnel gets 403 with the reason in its body and in a Proxy-Status field. An allowed one opens the origin
// connection, answers "200 Connection established", and from then on carries bytes both ways unchanged until
// either side closes.

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
    bool take_input(ACE_Message_Block& in, bool peer_closed) override;
    void refuse(const std::string& reason);
    // Either side has closed.
    void close();
};

} // namespace tav::http
