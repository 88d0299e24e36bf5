#pragma once

// Parses one HTTP/1.x request from bytes handed in as they arrive, with Boost.Beast's parser.
//
// It knows nothing of sockets: the connection feeds it what it read and acts on what it says. It stops once
// the head is complete, so that the connection can route the request (and set the body limit that the
// route allows) before any body byte is taken; body bytes collect in a chain that the connection takes
// away piece by piece. A parser reads one request; the next one of a pipelined connection gets a new one.
// It never throws for bad input: every fault ends in failed() with the status to answer.

#include "head_bytes.hpp"

#include <tav/http/request_head.hpp>

#include <ace/Message_Block.h>

#include <boost/beast/http/basic_parser.hpp>
#include <boost/intrusive_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tav::http {

class request_parser : private boost::beast::http::basic_parser<true> {
public:
    // The longest request head taken (431 beyond it).
    static constexpr std::uint32_t head_limit = 64 * 1024;

    // `site` is the address that a request in origin form ("GET / HTTP/1.1") stands for; with
    // `named_by_host`, that of its Host field when it has one (a Host that names no site is a fault, 400).
    explicit request_parser(const tav::uri& site, bool named_by_host = false);
    ~request_parser() override;

    // Takes bytes from [data, data + size) and returns how many it used; the caller keeps the rest and offers
    // them again with what follows. It uses none once the head is complete until body_allowed() has been
    // called, and none after the request is complete or failed.
    std::size_t feed(const char* data, std::size_t size);
    // The connection ended: completes a request whose body runs to the end of the stream, fails others.
    void end_of_input();

    // The largest body accepted (413 beyond it); nullopt for no limit. Call once the head is complete.
    void body_allowed(std::optional<std::uint64_t> limit);

    bool head_done() const { return head_ != nullptr && is_header_done(); }
    bool done() const { return is_done(); }
    // The status that a fault calls for (400, 413, 414, 431, 501 or 505), or 0. Both a length and a transfer
    // coding, two lengths, and a field folded over lines are faults (400). So are transfer codings (all the
    // Transfer-Encoding fields, as one list) that do not end in chunked (400; 501 when one of them is unknown
    // as well), and any coding before a final chunked (501): the body's end, or its bytes, would be read
    // otherwise by another reader. A length given as a list of equal values ("5, 5") is one length, which
    // the head holds once.
    int failed() const { return status_; }
    const boost::intrusive_ptr<request_head>& head() const { return head_; }
    // Whether the client asked to hear "100 Continue" before it sends the body.
    bool expects_continue() const { return expects_continue_; }
    // Whether the connection stays open after the answer, as the request's version and fields say.
    bool keep_alive() const { return basic_parser<true>::keep_alive(); }
    // The body length the head announced, if it did.
    std::optional<std::uint64_t> content_length() const;
    // The body bytes parsed since the last call, or null when there are none; the caller owns the chain.
    ACE_Message_Block* take_body();

private:
    void on_request_impl(boost::beast::http::verb method, boost::beast::string_view method_text,
                         boost::beast::string_view target, int version,
                         boost::beast::error_code& ec) override;
    void on_response_impl(int, boost::beast::string_view, int, boost::beast::error_code&) override;
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
    // Points a request in origin form at the site of its Host field; false when the field names none.
    bool take_site_from_host();

    // Records the status for a parser error.
    void fail(const boost::beast::error_code& ec);

    tav::uri site_;
    bool named_by_host_;
    head_bytes head_bytes_;
    boost::intrusive_ptr<request_head> head_;
    ACE_Message_Block* body_ = nullptr;
    bool body_allowed_ = false;
    bool expects_continue_ = false;
    // The Content-Length and Transfer-Encoding fields of the head, and the latter's values, joined.
    int lengths_ = 0;
    int encodings_ = 0;
    std::string codings_;
    int status_ = 0;
};

} // namespace tav::http
