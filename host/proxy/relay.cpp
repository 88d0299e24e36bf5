#include "relay.hpp"

#include "checks.hpp"

#include <tav/http/atom.hpp>
#include <tav/msg.hpp>

#include <boost/algorithm/string/case_conv.hpp>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

namespace tav::http {

namespace {

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

// Hands `keep` each field of `headers` that goes on to the next hop: not one that concerns one connection
// only, nor one named in `drop` (lower case), nor Via, whose values come back each followed by ", ".
template <class Keep>
std::string pass_fields(const header_map& headers, const std::set<std::string>& drop, const Keep& keep) {
    const std::set<std::string> skip = connection_fields(headers);
    std::string vias;
    for (const auto& field : headers) {
        const std::string name = boost::algorithm::to_lower_copy(std::string(field.first.c_str()));
        if (name == "via")
            vias += field.second + ", ";
        else if (skip.count(name) == 0 && drop.count(name) == 0)
            keep(field.first, field.second);
    }
    return vias;
}

} // namespace

relay::relay(forward_proxy& proxy, const boost::intrusive_ptr<response_handler>& response,
             const ACE_INET_Addr& local, const ACE_INET_Addr& client)
    : proxy_transaction(proxy, response, local, client) {}

void relay::OnRequestHead(const request_head* head) {
    site_ = head->uri.host();
    site_path_ = head->uri.path();
    const checks::outcome admitted = checks::admit_request(proxy_, client_, head->uri, verdict_);
    if (admitted.then == checks::outcome::stop) {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        block(admitted.reason);
        return;
    }
    pages_checked_ = checks::pages_checked(verdict_);
    chunked_upstream_ = head->headers.find(atom::transfer_encoding_header) != nullptr;
    const std::string& port = head->uri.port();
    const unsigned long number = port.empty() ? 80 : std::strtoul(port.c_str(), nullptr, 10);
    if (number == 0 || number > 65535) {
        fail(400, "The address names no port a site can be reached on.");
        return;
    }
    // A request with a body goes on a new connection: should the origin have closed a pooled one meanwhile,
    // the body could not be sent again.
    const std::string* length = head->headers.find(atom::content_length_header);
    const bool body = chunked_upstream_ || (length != nullptr && *length != "0");
    safe_ = checks::safe_search(verdict_, head->uri.host());
    if (head->intercepted) {
        // Always where the client sent it, or to the safe address: a forged Host field reaches no other
        // machine.
        char address[64] = "";
        head->intercepted->get_host_addr(address, sizeof address);
        dial(safe_ ? safe_.address : std::string(address), head->intercepted->get_port_number(), !body);
        return;
    }
    dial(safe_ ? safe_.address : head->uri.host(), static_cast<unsigned short>(number), !body);
}

void relay::block(const std::string& reason) {
    if (!end())
        return;
    const std::string page = proxy_.blocking_page(reason, get_request_head().uri, client_, verdict_);
    auto answer = response_head::create(403, nullptr, version::one_one_);
    answer->headers.set(atom::content_type_header, "text/html; charset=utf-8");
    answer->headers.set(atom::cache_control_header, "no-store");
    send_response_head(answer);
    send_response_body(page.data(), page.size());
    send_response_end(decision("refused", reason));
}

void relay::on_connected() {
    const std::string head = origin_head();
    write_upstream(make_msg(head.data(), static_cast<unsigned>(head.size())));
    parser_ = std::make_unique<response_parser>(get_request_head().method == "HEAD");
    answer_seen_ = false;
}

std::string relay::origin_head() const {
    const request_head& head = get_request_head();
    const checks::outgoing safe = checks::safe_search_fields(safe_);
    const checks::outgoing filter = checks::filter_fields(pages_checked_);
    std::string text = head.method + " " + checks::origin_target(head.uri, safe_) +
                       " HTTP/1.1\r\nHost: " + head.uri.host() +
                       (head.uri.port().empty() ? "" : ":" + head.uri.port()) + "\r\n";
    std::set<std::string> drop = {"host"};
    drop.insert(safe.removed.begin(), safe.removed.end());
    drop.insert(filter.removed.begin(), filter.removed.end());
    const std::string vias = pass_fields(head.headers, drop, [&](const atom& name, const std::string& value) {
        text += std::string(name.c_str()) + ": " + value + "\r\n";
    });
    for (const checks::outgoing* changes : {&safe, &filter})
        for (const auto& field : changes->added)
            text += field.first + ": " + field.second + "\r\n";
    if (chunked_upstream_)
        text += "Transfer-Encoding: chunked\r\n";
    text += "Via: " + vias + via + "\r\n\r\n";
    return text;
}

ACE_Message_Block* relay::frame_upstream(ACE_Message_Block* body, bool last) {
    if (!chunked_upstream_)
        return body;
    ACE_Message_Block* out = nullptr;
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
    return out;
}

bool relay::take_input(ACE_Message_Block& in, bool peer_closed) {
    // A connection of the pool that the origin closed while it was idle: the request goes on a new one.
    if (!answer_seen_ && in.length() == 0 && peer_closed && retry())
        return false;
    answer_seen_ = answer_seen_ || in.length() > 0;
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
        if (parser_->head_done() && !head_checked_)
            check_head();
        if (over_)
            return false;
        // A client that is behind pauses the origin, but an answer that has all come ends now: nothing more
        // will come from the origin to resume it.
        const bool caught_up = pass_answer();
        if (over_)
            return false;
        if (parser_->done()) {
            // The connection serves the next request to the origin when the answer ended cleanly; it is in
            // the pool before the client can hear that the answer is complete.
            if (in.length() == 0 && parser_->keep_alive() && !peer_closed)
                keep_upstream();
            finish_answer();
            end();
            break;
        }
        if (in.length() == 0 && peer_closed) {
            parser_->end_of_input();
            if (parser_->failed()) {
                fail(502, "The site closed the connection in the middle of its answer.");
                break;
            }
            continue;
        }
        if (!caught_up)
            return false;
        if (used == 0)
            return true;
    }
    return false;
}

void relay::check_head() {
    head_checked_ = true;
    const response_head& origin = *parser_->head();
    checks::answer answer =
        checks::answer_head(verdict_, origin.headers, origin.status(), get_request_head().method,
                            proxy_.settings().checked_body_limit);
    if (answer.result.then == checks::outcome::stop) {
        stop(answer.result);
        return;
    }
    holding_ = answer.hold;
    type_ = std::move(answer.type);
    coding_ = std::move(answer.coding);
}

void relay::stop(const checks::outcome& outcome) {
    if (outcome.status != 0)
        fail(outcome.status, outcome.reason);
    else
        block(outcome.reason);
}

void relay::send_head() {
    if (head_sent_)
        return;
    head_sent_ = true;
    const response_head& origin = *parser_->head();
    auto head = response_head::create(origin.status(), origin.reason().c_str(), version::one_one_);
    const bool chunked = origin.headers.find(atom::transfer_encoding_header) != nullptr;
    const std::string vias = pass_fields(
        origin.headers, chunked ? std::set<std::string>{"content-length"} : std::set<std::string>(),
        [&](const atom& name, const std::string& value) { head->headers.add(name, value); });
    head->headers.add(atom::intern("Via"), vias + via);
    // Once the head goes out the answer is allowed: a client that leaves before its end is logged so.
    get_response_handler().note(decision("allowed", std::string()));
    send_response_head(head);
}

bool relay::pass_answer() {
    if (!parser_->head_done())
        return true;
    ACE_Message_Block* body = parser_->take_body();
    if (holding_) {
        for (const ACE_Message_Block* b = body; b != nullptr; b = b->cont())
            held_.append(b->rd_ptr(), b->length());
        release_msg(body);
        return held_.size() <= proxy_.settings().checked_body_limit || release_held();
    }
    send_head();
    for (const ACE_Message_Block* b = body; b != nullptr; b = b->cont())
        pass_down(b->rd_ptr(), b->length());
    release_msg(body);
    return client_caught_up();
}

bool relay::release_held() {
    holding_ = false;
    send_head();
    pass_down(held_.data(), held_.size());
    std::string().swap(held_);
    return client_caught_up();
}

void relay::finish_answer() {
    if (holding_) {
        const checks::outcome words =
            checks::page_words(verdict_, type_, coding_, held_, proxy_.settings().checked_body_limit);
        if (words.then == checks::outcome::stop) {
            stop(words);
            return;
        }
        release_held();
    }
    // The client may ask again as soon as it hears the end, and that request must see this answer counted.
    report();
    send_response_end(nullptr); // the decision went with the head
}

void relay::on_origin_closed() {
    if (!answer_seen_ && retry())
        return;
    proxy_transaction::on_origin_closed();
}

} // namespace tav::http
