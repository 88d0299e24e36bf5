#include "tunnel.hpp"

#include <tav/http/atom.hpp>

#include <cstdlib>

namespace tav::http {

namespace {

// A quoted string of a structured field (RFC 8941): printable ASCII, with '"' and '\' escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c >= 0x20 && c < 0x7f)
            out += c;
    }
    return out + "\"";
}

} // namespace

tunnel::tunnel(forward_proxy& proxy, const boost::intrusive_ptr<response_handler>& response,
               const ACE_INET_Addr& local, const ACE_INET_Addr& client)
    : proxy_transaction(proxy, response, local, client) {}

void tunnel::OnRequestHead(const request_head* head) {
    const unsigned long port = std::strtoul(head->uri.port().c_str(), nullptr, 10);
    std::string reason;
    if (port > 65535 || proxy_.settings().connect_ports.count(static_cast<unsigned short>(port)) == 0)
        reason = "Tunnels are open only to the ports of secure sites.";
    else if (proxy_.allowed(client_, head->uri, PROTO_HTTPS, reason))
        reason.clear();
    else if (reason.empty())
        reason = "Access denied.";
    if (!reason.empty()) {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        refuse(reason);
        return;
    }
    dial(head->uri.host(), static_cast<unsigned short>(port));
}

void tunnel::refuse(const std::string& reason) {
    if (!end())
        return;
    auto answer = response_head::create(403, nullptr, version::one_one_);
    answer->headers.set(atom::content_type_header, "text/plain; charset=utf-8");
    answer->headers.set(atom::cache_control_header, "no-store");
    answer->headers.set(atom::intern("Proxy-Status"),
                        "tollwick; error=http_request_denied; details=" + quoted(reason));
    const std::string body = reason + "\n";
    send_response_head(answer);
    send_response_body(body.data(), body.size());
    send_response_end(decision("refused", reason));
}

void tunnel::on_connected() {
    // The origin's end is passed to the client while the client's bytes still go to the origin.
    upstream_->allow_half_close(true);
    send_response_head(response_head::create(200, "Connection established", version::one_one_));
}

void tunnel::OnRequestBody(ACE_Message_Block* body, bool last) {
    proxy_transaction::OnRequestBody(body, last);
    if (!last)
        return;
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    client_ended_ = true;
    if (origin_ended_)
        close();
}

void tunnel::on_request_sent() {
    upstream_->shutdown_writing(); // after the client's last bytes
}

bool tunnel::take_input(ACE_Message_Block& in, bool peer_closed) {
    pass_down(in.rd_ptr(), in.length());
    in.rd_ptr(in.length());
    if (!peer_closed)
        return client_caught_up();
    if (!origin_ended_) {
        origin_ended_ = true;
        if (client_ended_)
            close();
        else
            send_response_end(decision("allowed", std::string())); // the client reads the end after the bytes
    }
    return true;
}

void tunnel::on_silent_origin() {
    broken(504, "The site did not answer in time.");
}

void tunnel::on_origin_closed() {
    if (origin_ended_ && client_ended_)
        close();
    else
        broken(502, "The site closed the connection.");
}

void tunnel::close() {
    if (end())
        send_response_end(decision("allowed", std::string()));
}

void tunnel::broken(int status, const std::string& why) {
    if (!end())
        return;
    // Once the origin's end has gone to the client the answer has ended, and its handler alone can still
    // close the client's side.
    if (origin_ended_)
        get_response_handler().respond_error(status, why.c_str());
    else
        respond_error(status, why.c_str());
}

} // namespace tav::http
