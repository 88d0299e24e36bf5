#include "relay.hpp"

#include <tav/connector.hpp>
#include <tav/http/atom.hpp>
#include <tav/msg.hpp>

#include <boost/algorithm/string/case_conv.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

namespace tav::http {

namespace {

// The client may fall this far behind before reading from the origin pauses, and reading resumes once it
// has caught up to the lower mark: the proxy never holds more of an answer than that.
constexpr std::size_t pause_above = std::size_t{256} * 1024;
constexpr std::size_t resume_below = std::size_t{64} * 1024;

const char* const via = "1.1 tollwick";

// The fields that concern one connection only (RFC 9110, 7.6.1), and those that the Connection fields of
// the message name.
std::set<std::string> connection_fields(const header_map& headers) {
    std::set<std::string> names = {"connection", "proxy-connection",  "keep-alive", "te",
                                   "trailer",    "transfer-encoding", "upgrade",    "proxy-authorization"};
    for (const auto& field : headers) {
        const std::string name = boost::algorithm::to_lower_copy(std::string(field.first.c_str()));
        if (name != "connection" && name != "proxy-connection")
            continue;
        std::istringstream tokens(field.second);
        for (std::string token; std::getline(tokens, token, ',');) {
            token.erase(0, token.find_first_not_of(" \t"));
            token.erase(token.find_last_not_of(" \t") + 1);
            names.insert(boost::algorithm::to_lower_copy(token));
        }
    }
    return names;
}

// Opens the connection to the origin for one relay.
class origin_connector : public connector {
public:
    explicit origin_connector(relay* r) : relay_(r) {}
    boost::intrusive_ptr<aio_socket_stream> create_stream() override { return new aio_socket_stream; }
    void on_connected(const boost::intrusive_ptr<aio_socket_stream>& stream) override {
        std::exchange(relay_, nullptr)->connected(stream);
    }
    void on_connect_failed(const boost::intrusive_ptr<aio_socket_stream>& /*stream*/,
                           unsigned long error) override {
        std::exchange(relay_, nullptr)->not_connected(error);
    }

private:
    boost::intrusive_ptr<relay> relay_;
};

} // namespace

relay::relay(forward_proxy& proxy, const boost::intrusive_ptr<response_handler>& response,
             const ACE_INET_Addr& local, const ACE_INET_Addr& client)
    : ext_transaction_base(&proxy, response), proxy_(proxy), local_(local) {
    char text[64] = "";
    client.get_host_addr(text, sizeof text);
    client_ = text;
}

relay::~relay() {
    release_msg(waiting_body_);
}

void relay::OnRequestHead(const request_head* head) {
    std::string reason;
    if (!proxy_.allowed(client_, head->uri, reason)) {
        const std::string page = proxy_.blocking_page(reason, head->uri);
        auto answer = response_head::create(403, nullptr, version::one_one_);
        answer->headers.set(atom::content_type_header, "text/html");
        answer->headers.set(atom::cache_control_header, "no-store");
        boost::intrusive_ptr<log_record> record(new log_record);
        record->set_field("x-decision", "refused", true);
        record->set_field("x-reason", reason, true);
        {
            const std::lock_guard<std::recursive_mutex> lock(mutex_);
            over_ = true;
        }
        send_response_head(answer);
        send_response_body(page.data(), page.size());
        send_response_end(record);
        return;
    }
    chunked_upstream_ = head->headers.find(atom::transfer_encoding_header) != nullptr;
    const std::string& port = head->uri.port();
    const unsigned long number = port.empty() ? 80 : std::strtoul(port.c_str(), nullptr, 10);
    if (number == 0 || number > 65535) {
        fail(400, "The address names no port a site can be reached on.");
        return;
    }
    boost::intrusive_ptr<relay> self(this);
    proxy_.names().resolve(head->uri.host(), static_cast<unsigned short>(number),
                           [self](const std::string& error, const ACE_INET_Addr& origin) {
                               try {
                                   self->proxy_.post(
                                       [self, error, origin] { self->resolved(error, origin); });
                               } catch (const std::exception&) {
                                   // The loop has stopped taking work: the service is ending, and so is the
                                   // client.
                               }
                           });
}

void relay::resolved(const std::string& error, const ACE_INET_Addr& origin) {
    if (!error.empty()) {
        fail(502, "The name of the site cannot be found (" + error + ").");
        return;
    }
    // A request for the proxy's own address would come back to it without end.
    if (origin.get_port_number() == local_.get_port_number() &&
        (origin.get_ip_address() == local_.get_ip_address() || origin.is_loopback() || origin.is_any())) {
        fail(403, "The proxy does not relay requests to itself.");
        return;
    }
    {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (over_)
            return;
    }
    boost::intrusive_ptr<origin_connector> connect(new origin_connector(this));
    if (!connect->open(proxy_.proactor()) || !connect->connect(origin, false))
        fail(502, "The site cannot be reached.");
}

void relay::not_connected(unsigned long error) {
    fail(502, std::string("The site cannot be reached (") + std::strerror(static_cast<int>(error)) + ").");
}

void relay::connected(const boost::intrusive_ptr<aio_socket_stream>& stream) {
    // The stream's callbacks take its lock, then the relay's: the handler is set before the relay's lock.
    stream->set_handler(this);
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (over_) {
        stream->shutdown();
        return;
    }
    upstream_ = stream;
    const std::string head = origin_head();
    write_upstream(make_msg(head.data(), static_cast<unsigned>(head.size())));
    if (waiting_body_ != nullptr || body_done_)
        send_upstream(std::exchange(waiting_body_, nullptr), body_done_);
    if (upstream_unsent_ <= pause_above)
        hold_body(false); // the body held while the connection was being made
    parser_ = std::make_unique<response_parser>(get_request_head().method == "HEAD");
    stream->start_reading();
}

std::string relay::origin_head() const {
    const request_head& head = get_request_head();
    std::string target = head.target;
    const std::size_t scheme = target.find("://");
    if (scheme != std::string::npos) {
        const std::size_t path = target.find('/', scheme + 3);
        target = path == std::string::npos ? "/" : target.substr(path);
    }
    std::string text = head.method + " " + target + " HTTP/1.1\r\nHost: " + head.uri.host() +
                       (head.uri.port().empty() ? "" : ":" + head.uri.port()) + "\r\n";
    const std::set<std::string> skip = connection_fields(head.headers);
    std::string vias;
    for (const auto& field : head.headers) {
        const std::string name = boost::algorithm::to_lower_copy(std::string(field.first.c_str()));
        if (name == "via")
            vias += field.second + ", ";
        else if (name != "host" && skip.count(name) == 0)
            text += std::string(field.first.c_str()) + ": " + field.second + "\r\n";
    }
    if (chunked_upstream_)
        text += "Transfer-Encoding: chunked\r\n";
    text += "Via: " + vias + via + "\r\nConnection: close\r\n\r\n";
    return text;
}

void relay::OnRequestBody(ACE_Message_Block* body, bool last) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (over_) {
        release_msg(body);
        return;
    }
    if (upstream_ == nullptr) {
        append_msg(waiting_body_, body);
        body_done_ = last;
        if (waiting_body_ != nullptr && waiting_body_->total_length() > pause_above)
            hold_body(true);
        return;
    }
    send_upstream(body, last);
}

void relay::send_upstream(ACE_Message_Block* body, bool last) {
    ACE_Message_Block* out = nullptr;
    if (chunked_upstream_) {
        const std::size_t size = body != nullptr ? body->total_length() : 0;
        if (size > 0) {
            char line[32];
            const int n = std::snprintf(line, sizeof line, "%zx\r\n", size);
            append_msg(out, make_msg(line, static_cast<unsigned>(n)));
            append_msg(out, body);
            append_msg(out, make_msg("\r\n", 2));
        } else {
            release_msg(body);
        }
        if (last)
            append_msg(out, make_msg("0\r\n\r\n", 5));
    } else {
        out = body;
    }
    if (out != nullptr && out->total_length() == 0)
        release_msg(out);
    if (out == nullptr)
        return;
    bytes_ += out->total_length();
    write_upstream(out);
}

void relay::write_upstream(ACE_Message_Block* chain) {
    const std::size_t size = chain->total_length();
    if (upstream_->write(chain, this, chain) != aio_error::ok) {
        release_msg(chain);
        return;
    }
    upstream_writes_.push_back(size);
    upstream_unsent_ += size;
    if (upstream_unsent_ > pause_above)
        hold_body(true);
}

void relay::hold_body(bool hold) {
    if (hold == holding_body_)
        return;
    holding_body_ = hold;
    get_response_handler().hold_request_body(hold);
}

bool relay::handle_input(const boost::intrusive_ptr<aio_socket_stream>& stream) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    ACE_Message_Block& in = stream->input_buffer();
    while (!over_ && parser_ != nullptr) {
        const std::size_t used = parser_->feed(in.rd_ptr(), in.length());
        in.rd_ptr(used);
        if (parser_->failed()) {
            fail(502, "The site's answer cannot be read.");
            break;
        }
        if (parser_->interim()) {
            // "100 Continue" and its kind are for the proxy, which sends the body anyway.
            parser_ = std::make_unique<response_parser>(get_request_head().method == "HEAD");
            continue;
        }
        if (!pass_answer())
            return false;
        if (parser_->done()) {
            finish_answer();
            break;
        }
        if (in.length() == 0 && (stream->status() & aio_socket_stream::peer_closed)) {
            parser_->end_of_input();
            if (parser_->failed()) {
                fail(502, "The site closed the connection in the middle of its answer.");
                break;
            }
            continue;
        }
        if (used == 0)
            return true;
    }
    in.rd_ptr(in.length());
    return false;
}

bool relay::pass_answer() {
    if (!parser_->head_done())
        return true;
    response_handler& client = get_response_handler();
    if (!answer_begun_) {
        answer_begun_ = true;
        const response_head& origin = *parser_->head();
        auto head = response_head::create(origin.status(), origin.reason().c_str(), version::one_one_);
        const std::set<std::string> skip = connection_fields(origin.headers);
        const bool chunked = origin.headers.find(atom::transfer_encoding_header) != nullptr;
        std::string vias;
        for (const auto& field : origin.headers) {
            const std::string name = boost::algorithm::to_lower_copy(std::string(field.first.c_str()));
            if (name == "via")
                vias += field.second + ", ";
            else if (skip.count(name) == 0 && !(chunked && name == "content-length"))
                head->headers.add(field.first, field.second);
        }
        head->headers.add(atom::intern("Via"), vias + via);
        send_response_head(head);
    }
    if (ACE_Message_Block* body = parser_->take_body()) {
        for (const ACE_Message_Block* b = body; b != nullptr; b = b->cont()) {
            bytes_ += b->length();
            send_response_body(b->rd_ptr(), b->length());
        }
        release_msg(body);
    }
    if (client.unsent() <= pause_above)
        return true;
    boost::intrusive_ptr<aio_socket_stream> stream = upstream_;
    client.on_drained(resume_below, [stream] { stream->start_reading(); });
    return false;
}

void relay::finish_answer() {
    over_ = true;
    hold_body(false); // what is left of the body is read and dropped
    boost::intrusive_ptr<log_record> record(new log_record);
    record->set_field("x-decision", "allowed", true);
    send_response_end(record);
    proxy_.count(client_, bytes_);
    close_upstream();
}

void relay::fail(int status, const std::string& why) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (over_)
        return;
    over_ = true;
    hold_body(false);
    respond_error(status, why.c_str());
    proxy_.count(client_, bytes_);
    close_upstream();
}

void relay::close_upstream() {
    if (upstream_ != nullptr)
        upstream_->shutdown();
}

void relay::handle_input_error(const boost::intrusive_ptr<aio_socket_stream>& /*stream*/,
                               const aio_error& /*error*/) {}

void relay::handle_close(const boost::intrusive_ptr<aio_socket_stream>& stream) {
    {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        upstream_.reset();
        fail(502, "The site closed the connection before it answered.");
    }
    stream->set_handler(nullptr);
}

void relay::handle_written(const boost::intrusive_ptr<aio_socket_stream>& /*stream*/, const void* act) {
    auto* chain = static_cast<ACE_Message_Block*>(const_cast<void*>(act));
    release_msg(chain);
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!upstream_writes_.empty()) {
        upstream_unsent_ -= upstream_writes_.front();
        upstream_writes_.pop_front();
    }
    if (holding_body_ && upstream_unsent_ <= resume_below)
        hold_body(false);
}

void relay::handle_write_error(const boost::intrusive_ptr<aio_socket_stream>& stream, const void* act,
                               const aio_error& /*error*/) {
    handle_written(stream, act);
}

void relay::OnTerminate() {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    over_ = true;
    close_upstream();
}

} // namespace tav::http
