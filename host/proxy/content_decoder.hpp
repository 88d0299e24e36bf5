#pragma once

// Turns the body of an answer back into its text for the word check: bodies coded with gzip or deflate
// (zlib's format, or the bare deflate that some servers send under that name) are inflated with zlib, and
// those without a coding are taken as they are. The text is cut at a limit, so that a small body that
// inflates to a huge one costs no more than the limit.

#include <cstddef>
#include <string>

namespace tav::http {

class content_decoder {
public:
    // Whether the Content-Encoding value names a coding the decoder reads ("", "identity", "gzip",
    // "x-gzip", "deflate"; case does not matter).
    static bool readable(const std::string& coding);
    // The first `limit` bytes of the body's text into `text`; false when the body is not what its coding
    // says (truncated or corrupt).
    static bool decode(const std::string& coding, const std::string& body, std::size_t limit,
                       std::string& text);
};

} // namespace tav::http
