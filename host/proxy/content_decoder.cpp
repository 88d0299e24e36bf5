#include "content_decoder.hpp"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace tav::http {

namespace {

std::string normal(const std::string& coding) {
    return boost::algorithm::to_lower_copy(boost::algorithm::trim_copy(coding));
}

// Inflates with the given window bits (zlib's: 15 + 32 reads a gzip or zlib header, -15 bare deflate).
bool inflate_body(const std::string& body, int window_bits, std::size_t limit, std::string& text) {
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK)
        return false;
    text.clear();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    std::size_t left = body.size();
    char out[16384];
    int status = Z_OK;
    while (status == Z_OK && text.size() < limit) {
        if (z.avail_in == 0 && left > 0) {
            z.avail_in = static_cast<uInt>(std::min<std::size_t>(left, UINT_MAX));
            left -= z.avail_in;
        }
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = sizeof out;
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t made = sizeof out - z.avail_out;
        text.append(out, std::min(made, limit - text.size()));
    }
    inflateEnd(&z);
    return status == Z_STREAM_END || (status == Z_OK && text.size() >= limit);
}

} // namespace

bool content_decoder::readable(const std::string& coding) {
    const std::string name = normal(coding);
    return name.empty() || name == "identity" || name == "gzip" || name == "x-gzip" || name == "deflate";
}

bool content_decoder::decode(const std::string& coding, const std::string& body, std::size_t limit,
                             std::string& text) {
    const std::string name = normal(coding);
    if (name.empty() || name == "identity") {
        text.assign(body, 0, std::min(body.size(), limit));
        return true;
    }
    if (name == "gzip" || name == "x-gzip")
        return inflate_body(body, 15 + 16, limit, text);
    if (name == "deflate")
        return inflate_body(body, 15, limit, text) || inflate_body(body, -15, limit, text);
    return false;
}

} // namespace tav::http
