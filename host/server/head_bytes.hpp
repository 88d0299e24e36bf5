#pragma once

// The bytes of a message head collected across reads for a Beast parser, which needs a head whole while a
// socket's reads end anywhere. The parser may take part of the head (the start line) before the rest has
// come; what it took leaves the collection.

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>

#include <algorithm>
#include <cstddef>
#include <string>

namespace tav::http {

class head_bytes {
public:
    explicit head_bytes(std::size_t limit) : limit_(limit) {}

    // Offers [data, data + size) to the parser, whose head is not complete yet; returns how many of the
    // bytes the caller has handed over, which are those up to the end of the head once it is complete.
    // need_more in `ec` means the head goes on; too_long() then says whether it passed the limit.
    template <bool isRequest>
    std::size_t feed(boost::beast::http::basic_parser<isRequest>& parser, const char* data, std::size_t size,
                     boost::beast::error_code& ec) {
        const std::size_t taken = std::min(size, limit_ + 1 - seen_);
        bytes_.append(data, taken);
        seen_ += taken;
        const std::size_t end = bytes_.find("\r\n\r\n");
        const std::size_t head = end == std::string::npos ? bytes_.size() : end;
        folded_ = folded_ || bytes_.find("\n ") < head || bytes_.find("\n\t") < head;
        const std::size_t used = parser.put(boost::asio::const_buffer(bytes_.data(), bytes_.size()), ec);
        bytes_.erase(0, used);
        if (ec)
            return taken;
        // What is left of the collection came after the head: the caller keeps those bytes.
        const std::size_t after = bytes_.size();
        bytes_.clear();
        bytes_.shrink_to_fit();
        return taken - after;
    }
    bool too_long() const { return seen_ > limit_; }
    // The bytes the parser has not taken: after it failed, the rest of the head.
    const std::string& untaken() const { return bytes_; }
    // Whether a field of the head went on over a line break (obsolete line folding).
    bool folded() const { return folded_; }

private:
    const std::size_t limit_;
    std::string bytes_;
    std::size_t seen_ = 0;
    bool folded_ = false;
};

} // namespace tav::http
