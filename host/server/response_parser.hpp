#pragma once

// Parses the answer of an origin server from bytes handed in as they arrive, with Boost.Beast's parser.
//
// Like the request parser it knows nothing of sockets. The head must arrive whole within head_limit; the
// body, of any length, is handed on piece by piece as it is decoded (Content-Length, chunked, or up to the
// end of the connection). An interim answer (1xx) is complete with its head; the caller starts a new
// parser for the answer that follows. It never throws for bad input: a fault ends in failed().

#include "head_bytes.hpp"

#include <tav/http/response_head.hpp>

#include <ace/Message_Block.h>

#include <boost/beast/http/basic_parser.hpp>
#include <boost/intrusive_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tav::http {

class response_parser : private boost::beast::http::basic_parser<false> {
public:
    static constexpr std::uint32_t head_limit = 64 * 1024;

    // `no_body`: the answer to a HEAD request, which has none whatever its fields say.
    explicit response_parser(bool no_body);
    ~response_parser() override;

    // Takes bytes from [data, data + size) and returns how many it used; the caller offers the rest again
    // with what follows. It uses none after the answer is complete or failed.
    std::size_t feed(const char* data, std::size_t size);
    // The origin closed the connection: completes an answer delimited by the close, fails others.
    void end_of_input();

    bool head_done() const { return head_ != nullptr && is_header_done(); }
    bool done() const { return is_done(); }
    bool failed() const { return failed_; }
    // An interim answer (100 to 199), complete with its head.
    bool interim() const { return head_done() && head_->status() < 200; }
    const boost::intrusive_ptr<response_head>& head() const { return head_; }
    // Whether the origin keeps the connection open after this answer.
    bool keep_alive() const { return basic_parser<false>::keep_alive(); }
    // Whether the body runs to the end of the connection.
    bool ends_with_close() const { return head_done() && need_eof(); }
    // The body bytes decoded since the last call, or null; the caller owns the chain.
    ACE_Message_Block* take_body();
    // The body bytes decoded and not yet taken.
    std::size_t body_waiting() const { return waiting_; }

private:
    void on_request_impl(boost::beast::http::verb, boost::beast::string_view, boost::beast::string_view, int,
                         boost::beast::error_code& ec) override;
    void on_response_impl(int status, boost::beast::string_view reason, int version,
                          boost::beast::error_code& ec) override;
    void on_field_impl(boost::beast::http::field name, boost::beast::string_view name_text,
                       boost::beast::string_view value, boost::beast::error_code& ec) override;
    void on_header_impl(boost::beast::error_code& ec) override;
    void on_body_init_impl(const boost::optional<std::uint64_t>& length,
                           boost::beast::error_code& ec) override;
    std::size_t on_body_impl(boost::beast::string_view body, boost::beast::error_code& ec) override;
    void on_chunk_header_impl(std::uint64_t size, boost::beast::string_view extensions,
                              boost::beast::error_code& ec) override;
    std::size_t on_chunk_body_impl(std::uint64_t remain, boost::beast::string_view body,
                                   boost::beast::error_code& ec) override;
    void on_finish_impl(boost::beast::error_code& ec) override;

    head_bytes head_bytes_;
    boost::intrusive_ptr<response_head> head_;
    ACE_Message_Block* body_ = nullptr;
    std::size_t waiting_ = 0;
    bool failed_ = false;
};

} // namespace tav::http
