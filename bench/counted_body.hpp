#pragma once

// A message body for Boost.Beast's parser that keeps only its length, for a load that checks how much of an
// answer came and has no use for its bytes.

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>

#include <cstddef>
#include <cstdint>

namespace bench {

struct counted_body {
    using value_type = std::size_t; // the bytes received

    class reader {
    public:
        template <bool isRequest, class Fields>
        reader(boost::beast::http::header<isRequest, Fields>&, value_type& length) : length_(length) {}

        void init(const boost::optional<std::uint64_t>&, boost::beast::error_code& error) {
            length_ = 0;
            error = {};
        }
        template <class Buffers> std::size_t put(const Buffers& buffers, boost::beast::error_code& error) {
            const std::size_t size = boost::asio::buffer_size(buffers);
            length_ += size;
            error = {};
            return size;
        }
        void finish(boost::beast::error_code& error) { error = {}; }

    private:
        value_type& length_;
    };
};

} // namespace bench
