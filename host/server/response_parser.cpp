#include "response_parser.hpp"

#include <tav/msg.hpp>

#include <boost/beast/http/error.hpp>

#include <limits>

namespace tav::http {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;

response_parser::response_parser(bool no_body) : head_bytes_(head_limit) {
    header_limit(head_limit);
    // An answer's body has no limit of its own: it streams through.
    body_limit(std::numeric_limits<std::uint64_t>::max());
    skip(no_body);
}

response_parser::~response_parser() {
    release_msg(body_);
}

std::size_t response_parser::feed(const char* data, std::size_t size) {
    if (failed_ || is_done() || size == 0)
        return 0;
    beast::error_code ec;
    const std::size_t used = is_header_done() ? put(boost::asio::const_buffer(data, size), ec)
                                              : head_bytes_.feed<false>(*this, data, size, ec);
    failed_ = ec == bhttp::error::need_more ? head_bytes_.too_long() : static_cast<bool>(ec);
    return used;
}

void response_parser::end_of_input() {
    if (failed_ || is_done())
        return;
    beast::error_code ec;
    if (is_header_done())
        put_eof(ec);
    else
        ec = bhttp::error::partial_message;
    failed_ = static_cast<bool>(ec);
}

ACE_Message_Block* response_parser::take_body() {
    waiting_ = 0;
    return std::exchange(body_, nullptr);
}

void response_parser::on_request_impl(bhttp::verb, beast::string_view, beast::string_view, int,
                                      beast::error_code& ec) {
    ec = bhttp::error::bad_line_ending; // never called for a response parser
}

void response_parser::on_response_impl(int status, beast::string_view reason, int version,
                                       beast::error_code& ec) {
    // A switch of protocols cannot be relayed: the proxy speaks HTTP to the origin only.
    if (status == 101 || (version != 10 && version != 11)) {
        ec = bhttp::error::bad_status;
        return;
    }
    const std::string text(reason.data(), reason.size());
    head_ = response_head::create(
        status, text.c_str(),
        http::version{static_cast<unsigned>(version / 10), static_cast<unsigned>(version % 10)});
    // An answer of 1xx, 204 or 304 has no body whatever its fields say: the parser knows that itself.
    if (head_ == nullptr)
        ec = bhttp::error::bad_status;
}

void response_parser::on_field_impl(bhttp::field name, beast::string_view name_text, beast::string_view value,
                                    beast::error_code& /*ec*/) {
    const std::string_view text(name_text.data(), name_text.size());
    head_->headers.add(name == bhttp::field::unknown ? atom::make_private(text) : atom::intern(text),
                       std::string(value.data(), value.size()));
}

void response_parser::on_header_impl(beast::error_code& /*ec*/) {}

void response_parser::on_body_init_impl(const boost::optional<std::uint64_t>& /*length*/,
                                        beast::error_code& /*ec*/) {}

std::size_t response_parser::on_body_impl(beast::string_view body, beast::error_code& /*ec*/) {
    append_msg(body_, make_msg(body.data(), static_cast<unsigned>(body.size())));
    waiting_ += body.size();
    return body.size();
}

void response_parser::on_chunk_header_impl(std::uint64_t /*size*/, beast::string_view /*extensions*/,
                                           beast::error_code& /*ec*/) {}

std::size_t response_parser::on_chunk_body_impl(std::uint64_t /*remain*/, beast::string_view body,
                                                beast::error_code& ec) {
    return on_body_impl(body, ec);
}

void response_parser::on_finish_impl(beast::error_code& /*ec*/) {}

} // namespace tav::http
