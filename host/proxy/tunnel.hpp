#pragma once

// A tunnel to host:port for HTTPS: a CONNECT request, or a TLS connection that a gateway redirected to the
// service.
//
// A CONNECT tunnel is admitted for HTTPS and reaches only the ports the proxy allows (see checks). A
// refused tunnel gets 403 with the reason in its body and in a Proxy-Status field. An allowed one opens the
// origin connection and answers "200 Connection established". Then the client's TLS ClientHello is read,
// and nothing is relayed until it is whole: a server name other than the tunnel's host is decided on its
// own, and a refused name, bytes that are not a TLS handshake, a handshake that is malformed or does not
// come within the proxy's handshake timeout close the client's connection, with the reason in the access
// log. A ClientHello without a name goes on under the tunnel's host. Tunnels to the proxy's opaque ports
// are relayed unexamined.
//
// An intercepted connection has no CONNECT: its ClientHello is read first, its server name (or, without one,
// the address the client sent it to) is decided, and only an allowed one is connected, always to that
// address. Nothing but the relayed bytes ever goes to its client: a refusal closes the connection.
//
// A tunnel to a host of the safe search table, from a group that restricts its kind, is connected to the
// host's safe address instead, resolved as any name: by the CONNECT's host, or by the server name of an
// intercepted connection, whose address is then not used. The client's TLS still names the host it asked for.
//
// From then on bytes go both ways unchanged. Each side's end is passed on to the other after the bytes
// before it (a half-close), and the other side's bytes keep going until it ends too; then the tunnel is
// over. A failure (the origin's connection breaks, or it falls silent) closes the client's connection.

#include "proxy_transaction.hpp"

#include <string>

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
    void on_check(clock::time_point now) override;
    // Adds the client's bytes to those held until its ClientHello is whole; returns them all once its name
    // is allowed, else null (more must come, or the tunnel has been shut); under mutex_.
    ACE_Message_Block* examine(ACE_Message_Block* bytes, bool last);
    // Refuses a CONNECT request.
    void refuse(const std::string& reason);
    // Ends the tunnel without relaying anything of the client's and closes its connection, logging why.
    void shut(const std::string& reason);
    // Both sides have ended.
    void close();
    // Ends the tunnel and closes the client's connection.
    void broken(int status, const std::string& why);

    // Where the tunnel goes, in canonical form, and whether a gateway redirected the connection.
    std::string host_;
    unsigned short port_ = 0;
    bool intercepted_ = false;
    // The client's bytes held until its ClientHello is whole, and until when they may take to come; under
    // mutex_.
    bool examining_ = false;
    std::string hello_;
    clock::time_point hello_deadline_ = clock::time_point::max();
    // Whether the client's end, and the origin's, have been passed on; under mutex_.
    bool client_ended_ = false;
    bool origin_ended_ = false;
};

} // namespace tav::http
