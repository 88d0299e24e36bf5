#include "content_decoder.hpp"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <brotli/decode.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace tav::http {

namespace {

using outcome = content_decoder::outcome;

std::string normal(const std::string& coding) {
    return boost::algorithm::to_lower_copy(boost::algorithm::trim_copy(coding));
}

// A body whose coding stopped before its end: the text read until then, if there is any.
outcome broken(const std::string& text) {
    return text.empty() ? content_decoder::unreadable : content_decoder::cut_short;
}

// Inflates with the given window bits (zlib's: 15 + 16 reads gzip, 15 zlib's format, -15 bare deflate).
// With `members`, a stream that ends before the body does is followed by the next one, as gzip allows;
// without, or when what follows is not a stream, the bytes left over make the body cut short.
outcome inflate_body(const std::string& body, int window_bits, bool members, std::size_t limit,
                     std::string& text) {
    text.clear();
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK)
        return content_decoder::unreadable;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    std::size_t left = body.size();
    char out[16384];
    int status = Z_OK;
    while (text.size() < limit) {
        if (z.avail_in == 0 && left > 0) {
            z.avail_in = static_cast<uInt>(std::min<std::size_t>(left, UINT_MAX));
            left -= z.avail_in;
        }
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = sizeof out;
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t made = sizeof out - z.avail_out;
        text.append(out, std::min(made, limit - text.size()));
        if (status == Z_STREAM_END && members && (z.avail_in > 0 || left > 0)) {
            // Another member follows (or garbage, which the next header check finds).
            if (inflateReset(&z) != Z_OK)
                break;
            continue;
        }
        if (status != Z_OK)
            break;
    }
    const bool ended = status == Z_STREAM_END && z.avail_in == 0 && left == 0;
    inflateEnd(&z);
    return text.size() >= limit || ended ? content_decoder::whole : broken(text);
}

// Reads a Brotli body with libbrotli's decoder, a buffer at a time so that the limit bounds the work.
outcome unbrotli(const std::string& body, std::size_t limit, std::string& text) {
    text.clear();
    BrotliDecoderState* state = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
    if (state == nullptr)
        return content_decoder::unreadable;
    const auto* in = reinterpret_cast<const std::uint8_t*>(body.data());
    std::size_t in_left = body.size();
    std::uint8_t out[16384];
    BrotliDecoderResult result = BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
    while (result == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT && text.size() < limit) {
        std::uint8_t* next_out = out;
        std::size_t out_left = sizeof out;
        result = BrotliDecoderDecompressStream(state, &in_left, &in, &out_left, &next_out, nullptr);
        const std::size_t made = sizeof out - out_left;
        text.append(reinterpret_cast<const char*>(out), std::min(made, limit - text.size()));
    }
    BrotliDecoderDestroyInstance(state);
    const bool ended = result == BROTLI_DECODER_RESULT_SUCCESS && in_left == 0;
    return text.size() >= limit || ended ? content_decoder::whole : broken(text);
}

} // namespace

bool content_decoder::readable(const std::string& coding) {
    const std::string name = normal(coding);
    return name.empty() || name == "identity" || name == "gzip" || name == "x-gzip" || name == "deflate" ||
           name == "br";
}

content_decoder::outcome content_decoder::decode(const std::string& coding, const std::string& body,
                                                 std::size_t limit, std::string& text) {
    const std::string name = normal(coding);
    if (body.empty() || name.empty() || name == "identity") {
        text.assign(body, 0, std::min(body.size(), limit));
        return whole;
    }
    if (name == "gzip" || name == "x-gzip")
        return inflate_body(body, 15 + 16, true, limit, text);
    if (name == "br")
        return unbrotli(body, limit, text);
    if (name == "deflate") {
        const outcome own = inflate_body(body, 15, false, limit, text);
        if (own == whole)
            return own;
        // Not zlib's format all through: the bare reading counts when it gets further.
        std::string bare;
        const outcome other = inflate_body(body, -15, false, limit, bare);
        if (other == whole || bare.size() > text.size()) {
            text.swap(bare);
            return other;
        }
        return own;
    }
    text.clear();
    return unreadable;
}

} // namespace tav::http
