#pragma once

// Packs text with zlib for the tests of the content check: window bits 15 + 16 give gzip, 15 zlib's own
// format, -15 bare deflate.

#include <zlib.h>

#include <string>

namespace deflate_text {

inline std::string pack(const std::string& text, int window_bits) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    return packed;
}

} // namespace deflate_text
