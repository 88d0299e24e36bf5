#include "relay.hpp"

#include "content_decoder.hpp"
#include "page_text.hpp"

#include <tav/http/atom.hpp>
#include <tav/msg.hpp>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

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

} // namespace

relay::relay(forward_proxy& proxy, const boost::intrusive_ptr<response_handler>& response,
             const ACE_INET_Addr& local, const ACE_INET_Addr& client)
    : proxy_transaction(proxy, response, local, client) {}

void relay::OnRequestHead(const request_head* head) {
    site_ = head->uri.host();
    site_path_ = head->uri.path();
    verdict_ = proxy_.decide(client_, head->uri, PROTO_HTTP);
    if (!verdict_.IsAllowed()) {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        block(verdict_.GetMessage());
        return;
    }
    pages_checked_ = verdict_.IsHTTPContentFiltrationEnabled();
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
    safe_ = proxy_.safe_search(verdict_, head->uri.host());
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
    const std::string page =
        proxy_.blocking_page(reason, get_request_head().uri, client_, verdict_.IsClientKnown());
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
    // The address in its canonical form, as it was decided, with the safe search parameter set.
    std::string target;
    if (safe_.parameter.empty()) {
        head.uri.flatten(target, uri::path_bit | uri::query_bit);
    } else {
        uri safe = head.uri;
        safe.query(safe_.Query(head.uri.query()));
        safe.flatten(target, uri::path_bit | uri::query_bit);
    }
    std::string text = head.method + " " + target + " HTTP/1.1\r\nHost: " + head.uri.host() +
                       (head.uri.port().empty() ? "" : ":" + head.uri.port()) + "\r\n";
    const std::set<std::string> skip = connection_fields(head.headers);
    std::string vias;
    for (const auto& field : head.headers) {
        const std::string name = boost::algorithm::to_lower_copy(std::string(field.first.c_str()));
        if (name == "via")
            vias += field.second + ", ";
        else if (name != "host" && skip.count(name) == 0 && !(pages_checked_ && name == "accept-encoding") &&
                 !(!safe_.youTubeRestrict.empty() && name == "youtube-restrict"))
            text += std::string(field.first.c_str()) + ": " + field.second + "\r\n";
    }
    if (!safe_.youTubeRestrict.empty())
        text += "YouTube-Restrict: " + safe_.youTubeRestrict + "\r\n";
    // Pages that are checked come in codings the check reads.
    if (pages_checked_)
        text += "Accept-Encoding: gzip, deflate\r\n";
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
    bool conflicting = false;
    std::string type;
    for (const auto& field : origin.headers) {
        if (field.first != atom::content_type_header)
            continue;
        const std::string value = boost::algorithm::trim_copy(field.second);
        conflicting = conflicting || (!type.empty() && !boost::algorithm::iequals(type, value));
        type = value;
    }
    // Two types let the browser and the check each read the page as another kind of page.
    if (conflicting && pages_checked_) {
        fail(502, "The site sent conflicting content types");
        return;
    }
    type_ = type;
    const DataModel::ContentTypeAction action =
        pages_checked_ ? verdict_.IsContentTypeAllowed(type) : DataModel::PassingThrough;
    if (action == DataModel::Preventing) {
        block("Content of type " + (type.empty() ? std::string("(none)") : type) + " is not allowed.");
        return;
    }
    const std::string* coding = origin.headers.find(atom::intern("Content-Encoding"));
    coding_ = coding != nullptr ? *coding : std::string();
    const std::string* length = origin.headers.find(atom::content_length_header);
    const bool small = length == nullptr ||
                       std::strtoull(length->c_str(), nullptr, 10) <= proxy_.settings().checked_body_limit;
    // A page without a type is taken as HTML, as browsers take it.
    const bool html = type.empty() || boost::algorithm::istarts_with(type, "text/html") ||
                      boost::algorithm::istarts_with(type, "application/xhtml+xml");
    holding_ = action == DataModel::Filtering && html && get_request_head().method != "HEAD" &&
               origin.status() != 204 && origin.status() != 304 && content_decoder::readable(coding_) &&
               small;
}

void relay::send_head() {
    if (head_sent_)
        return;
    head_sent_ = true;
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
        std::string text;
        const std::size_t limit = proxy_.settings().checked_body_limit;
        // A body cut short is checked on what could be read of it; one of which nothing can be read is not
        // passed on unchecked.
        if (content_decoder::decode(coding_, held_, limit, text) == content_decoder::unreadable) {
            block("The page cannot be read to check its words.");
            return;
        }
        if (!verdict_.IsInapContentWordsAllowed(page_text::to_check(type_, text))) {
            block("The page contains words that are not allowed.");
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
