#include "request_parser.hpp"

#include <tav/canonical_uri.hpp>
#include <tav/http/atom.hpp>
#include <tav/msg.hpp>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

namespace tav::http {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;

namespace {

bool same_name(std::string_view text, const char* name) {
    return beast::iequals(beast::string_view(text.data(), text.size()), name);
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// The status that the transfer codings of a request call for (their fields' values joined with commas),
// or 0 when the body is simply chunked. The codings the server knows; it decodes none but chunked.
int coding_fault(std::string_view list) {
    static const char* const known[] = {"chunked",  "gzip",       "x-gzip",  "deflate",
                                        "compress", "x-compress", "identity"};
    std::vector<std::string_view> codings;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string_view coding = trimmed(list.substr(at, comma - at));
        if (!coding.empty())
            codings.push_back(coding);
        at = comma + 1;
    }
    const bool all_known = std::all_of(codings.begin(), codings.end(), [](std::string_view coding) {
        return std::any_of(std::begin(known), std::end(known),
                           [&](const char* name) { return same_name(coding, name); });
    });
    // Without chunked last the body's end cannot be found.
    if (codings.empty() || !same_name(codings.back(), "chunked"))
        return all_known ? 400 : 501;
    // A coding under chunked would reach the site, or the origin it goes on to, still applied.
    return codings.size() > 1 ? 501 : 0;
}

// The values of the Transfer-Encoding fields in the lines of a head, joined with commas.
std::string transfer_codings(const std::string& head) {
    std::string codings;
    for (std::size_t at = 0; at < head.size();) {
        const std::size_t end = std::min(head.find("\r\n", at), head.size());
        if (end == at)
            break; // the empty line that ends the head
        const std::string_view line(head.data() + at, end - at);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && same_name(line.substr(0, colon), "transfer-encoding")) {
            codings.append(line.substr(colon + 1));
            codings += ',';
        }
        at = end + 2;
    }
    return codings;
}

} // namespace

request_parser::request_parser(const tav::uri& site, bool named_by_host)
    : site_(site), named_by_host_(named_by_host), head_bytes_(head_limit) {
    header_limit(head_limit);
    // The limit of the body is set once the head is routed (body_allowed); until then the parser must not
    // refuse a length that the route may accept.
    body_limit(std::numeric_limits<std::uint64_t>::max());
}

request_parser::~request_parser() {
    release_msg(body_);
}

std::size_t request_parser::feed(const char* data, std::size_t size) {
    if (status_ != 0 || is_done() || (head_done() && !body_allowed_) || size == 0)
        return 0;
    beast::error_code ec;
    if (!is_header_done()) {
        const std::size_t taken = head_bytes_.feed<true>(*this, data, size, ec);
        if (head_bytes_.folded())
            ec = bhttp::error::bad_obs_fold; // a field that one reader may join and another split
        if (ec == bhttp::error::need_more) {
            if (head_bytes_.too_long())
                status_ = 431;
        } else if (ec) {
            fail(ec);
        }
        return taken;
    }
    const std::size_t used = put(boost::asio::const_buffer(data, size), ec);
    if (ec && ec != bhttp::error::need_more)
        fail(ec);
    return used;
}

void request_parser::end_of_input() {
    if (status_ != 0 || is_done())
        return;
    beast::error_code ec;
    if (is_header_done())
        put_eof(ec);
    else
        ec = bhttp::error::partial_message;
    if (ec)
        fail(ec);
}

void request_parser::body_allowed(std::optional<std::uint64_t> limit) {
    body_allowed_ = true;
    // No limit is the largest one: Boost 1.74 compares lengths with an empty limit as if it were below all.
    body_limit(limit.value_or(std::numeric_limits<std::uint64_t>::max()));
    // A body announced larger than the limit is refused before the client sends it.
    const auto length = content_length();
    if (limit && length && *length > *limit)
        status_ = 413;
}

std::optional<std::uint64_t> request_parser::content_length() const {
    const auto length = basic_parser<true>::content_length();
    return length ? std::optional<std::uint64_t>(*length) : std::nullopt;
}

ACE_Message_Block* request_parser::take_body() {
    return std::exchange(body_, nullptr);
}

void request_parser::on_request_impl(bhttp::verb method, beast::string_view method_text,
                                     beast::string_view target, int version, beast::error_code& ec) {
    if (method == bhttp::verb::unknown) {
        status_ = 501;
        ec = bhttp::error::bad_method;
        return;
    }
    if (version != 10 && version != 11) {
        status_ = 505;
        ec = bhttp::error::bad_version;
        return;
    }
    boost::intrusive_ptr<request_head> head(new request_head);
    head->method.assign(method_text.data(), method_text.size());
    head->target.assign(target.data(), target.size());
    head->version = http::version{static_cast<unsigned>(version / 10), static_cast<unsigned>(version % 10)};
    // The target as an absolute address: origin form stands for the site, and CONNECT's "host:port" for the
    // secure site it opens a tunnel to.
    std::string absolute;
    if (method == bhttp::verb::connect)
        absolute = "https://";
    else if (!target.empty() && target.front() == '/')
        site_.flatten(absolute, tav::uri::scheme_bit | tav::uri::userinfo_bit | tav::uri::host_bit |
                                    tav::uri::port_bit);
    absolute.append(target.data(), target.size());
    if (method == bhttp::verb::connect)
        absolute += '/';
    if (absolute.size() > tav::uri::max_length_) {
        status_ = 414;
        ec = bhttp::error::bad_target;
        return;
    }
    // Every spelling of an address is taken in its canonical form, which is what is decided and forwarded.
    const bool parsed = head->uri.parse_absolute(absolute.data(), absolute.data() + absolute.size());
    tav::canonicalize(head->uri);
    if (!parsed || head->uri.host().empty() ||
        (method == bhttp::verb::connect && (!head->uri.has_port() || head->uri.port().empty() ||
                                            target.find('/') != beast::string_view::npos))) {
        ec = bhttp::error::bad_target;
        return;
    }
    head_ = std::move(head);
}

void request_parser::on_response_impl(int, beast::string_view, int, beast::error_code& ec) {
    ec = bhttp::error::bad_line_ending; // never called for a request parser
}

void request_parser::on_field_impl(bhttp::field name, beast::string_view name_text, beast::string_view value,
                                   beast::error_code& /*ec*/) {
    if (name == bhttp::field::expect && beast::iequals(value, "100-continue"))
        expects_continue_ = true;
    std::string text(value.data(), value.size());
    if (name == bhttp::field::content_length) {
        ++lengths_;
        // Beast has checked that every number of the list is the same: the head holds it once, as a plain
        // number, for the extensions and for the origin that the request may go on to.
        const std::string_view first = trimmed(std::string_view(text).substr(0, text.find(',')));
        std::uint64_t length = 0;
        if (std::from_chars(first.data(), first.data() + first.size(), length).ec == std::errc())
            text = std::to_string(length);
    }
    if (name == bhttp::field::transfer_encoding) {
        ++encodings_;
        codings_ += text + ',';
    }
    // Only the names the parser knows are interned: a client's own names must not grow the table.
    const std::string_view name_view(name_text.data(), name_text.size());
    head_->headers.add(name == bhttp::field::unknown ? atom::make_private(name_view)
                                                     : atom::intern(name_view),
                       std::move(text));
}

void request_parser::on_header_impl(beast::error_code& ec) {
    if (named_by_host_ && !take_site_from_host()) {
        ec = bhttp::error::bad_target;
        return;
    }
    // A body whose end two readers may see in different places could smuggle a request past one of them.
    if (lengths_ > 1 || (lengths_ > 0 && encodings_ > 0)) {
        ec = bhttp::error::bad_content_length;
        return;
    }
    if (encodings_ == 0)
        return;
    status_ = coding_fault(codings_);
    // Beast reads the body as chunked exactly when the codings are chunked alone.
    if (status_ == 0 && !chunked())
        status_ = 400;
    if (status_ != 0)
        ec = bhttp::error::bad_transfer_encoding;
}

bool request_parser::take_site_from_host() {
    const std::string* host = head_->headers.find(atom::host_header);
    if (host == nullptr || head_->target.empty() || head_->target.front() != '/')
        return true;
    if (host->empty() || host->find_first_of("@/?#\\ \t") != std::string::npos)
        return false;
    const std::string absolute = "http://" + *host + head_->target;
    tav::uri site;
    if (absolute.size() > tav::uri::max_length_ ||
        !site.parse_absolute(absolute.data(), absolute.data() + absolute.size()) || site.host().empty())
        return false;
    tav::canonicalize(site);
    head_->uri = site;
    return true;
}

void request_parser::on_body_init_impl(const boost::optional<std::uint64_t>& /*length*/,
                                       beast::error_code& /*ec*/) {}

std::size_t request_parser::on_body_impl(beast::string_view body, beast::error_code& /*ec*/) {
    append_msg(body_, make_msg(body.data(), static_cast<unsigned>(body.size())));
    return body.size();
}

void request_parser::on_chunk_header_impl(std::uint64_t /*size*/, beast::string_view /*extensions*/,
                                          beast::error_code& /*ec*/) {}

std::size_t request_parser::on_chunk_body_impl(std::uint64_t /*remain*/, beast::string_view body,
                                               beast::error_code& ec) {
    return on_body_impl(body, ec);
}

void request_parser::on_finish_impl(beast::error_code& /*ec*/) {}

void request_parser::fail(const beast::error_code& ec) {
    if (status_ != 0)
        return;
    if (ec == bhttp::error::bad_transfer_encoding && lengths_ == 0 && encodings_ > 0)
        // Beast refused a coding after chunked: the fields it took are in codings_, the rest is untaken.
        status_ = coding_fault(codings_ + transfer_codings(head_bytes_.untaken()));
    else if (ec == bhttp::error::header_limit)
        status_ = 431;
    else if (ec == bhttp::error::bad_version)
        status_ = 505;
    else if (ec == bhttp::error::body_limit)
        status_ = 413;
    if (status_ == 0)
        status_ = 400;
}

} // namespace tav::http
