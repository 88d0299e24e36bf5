#include "tunnel.hpp"

#include "checks.hpp"
#include "client_hello.hpp"

#include <tav/http/atom.hpp>
#include <tav/msg.hpp>

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
    secure_ = true;
    site_ = head->uri.host();
    if (head->intercepted) {
        char address[64] = "";
        head->intercepted->get_host_addr(address, sizeof address);
        host_ = address;
        site_ = address;
        port_ = head->intercepted->get_port_number();
        intercepted_ = true;
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        examining_ = true;
        hello_deadline_ = proxy_.settings().clock->now() + proxy_.settings().handshake_timeout;
        proxy_.watch(this);
        return;
    }
    const checks::outcome admitted = checks::admit_tunnel(proxy_, client_, head->uri, verdict_);
    if (admitted.then == checks::outcome::stop) {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        refuse(admitted.reason);
        return;
    }
    host_ = head->uri.host();
    port_ = static_cast<unsigned short>(std::strtoul(head->uri.port().c_str(), nullptr, 10));
    {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        examining_ = proxy_.settings().opaque_ports.count(port_) == 0;
    }
    safe_ = checks::safe_search(verdict_, host_);
    dial(safe_ ? safe_.address : host_, port_);
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
    // The handshake's time runs from before the client can hear that the tunnel is open.
    if (examining_)
        hello_deadline_ = proxy_.settings().clock->now() + proxy_.settings().handshake_timeout;
    send_response_head(response_head::create(200, "Connection established", version::one_one_));
}

void tunnel::OnRequestBody(ACE_Message_Block* body, bool last) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (examining_) {
        body = examine(body, last);
        if (body == nullptr)
            return;
    }
    proxy_transaction::OnRequestBody(body, last);
    if (!last)
        return;
    client_ended_ = true;
    if (origin_ended_)
        close();
}

ACE_Message_Block* tunnel::examine(ACE_Message_Block* bytes, bool last) {
    for (const ACE_Message_Block* block = bytes; block != nullptr; block = block->cont())
        hello_.append(block->rd_ptr(), block->length());
    release_msg(bytes);
    if (over_)
        return nullptr;
    std::string name;
    const client_hello::state read = client_hello::read(hello_.data(), hello_.size(), name);
    const checks::outcome named =
        checks::server_name(proxy_, client_, read, last, name, host_, port_, intercepted_, verdict_, site_);
    if (named.then == checks::outcome::wait)
        return nullptr;
    if (named.then == checks::outcome::stop) {
        shut(named.reason);
        return nullptr;
    }
    examining_ = false;
    hello_deadline_ = clock::time_point::max();
    if (intercepted_ && !name.empty()) {
        // The access log names the site asked for rather than its address.
        boost::intrusive_ptr<log_record> asked(new log_record);
        std::string site;
        checks::secure_site(name, port_).flatten(site, tav::uri::all_bits);
        asked->set_field("cs-uri", site, true);
        get_response_handler().note(asked);
    }
    if (intercepted_) {
        safe_ = checks::safe_search(verdict_, site_);
        dial(safe_ ? safe_.address : host_, port_);
    }
    ACE_Message_Block* held = make_msg(hello_.data(), static_cast<unsigned>(hello_.size()));
    hello_.clear();
    hello_.shrink_to_fit();
    return held;
}

void tunnel::shut(const std::string& reason) {
    if (!end())
        return;
    get_response_handler().note(decision("refused", reason));
    respond_error(403, reason.c_str());
}

void tunnel::on_check(clock::time_point now) {
    if (examining_ && now >= hello_deadline_)
        shut("The TLS handshake did not come in time.");
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
