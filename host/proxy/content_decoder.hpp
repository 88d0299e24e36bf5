#pragma once

// Turns the body of an answer back into its text for the word check: bodies coded with gzip (every member
// of it, as members may follow one another) or deflate (zlib's format, or the bare deflate that some servers
// send under that name) are inflated with zlib, those coded with br are read with libbrotli, and those
// without a coding are taken as they are. The text is cut at a limit, so that a small body that inflates to
// a huge one costs no more than the limit. A body that breaks off or goes wrong part way still gives the text
// before the break, so that cutting a body short does not take it past the check.

#include <cstddef>
#include <string>

namespace tav::http {

class content_decoder {
public:
    // How far the body could be read. Unreadable comes first, so that an outcome left unset or taken as a
    // truth value says there is nothing to check.
    enum outcome {
        unreadable, // nothing could be read from a body that is not empty (garbage, a coding not known)
        whole,      // the body was read to its end, or up to the limit; an empty body is whole
        cut_short,  // the coding ended early or broke part way: the text is what came before (never empty)
    };

    // Whether the Content-Encoding value names a coding the decoder reads ("", "identity", "gzip",
    // "x-gzip", "deflate", "br"; case does not matter).
    static bool readable(const std::string& coding);
    // The first `limit` bytes of the body's text into `text` (empty when unreadable).
    [[nodiscard]] static outcome decode(const std::string& coding, const std::string& body, std::size_t limit,
                                        std::string& text);
};

} // namespace tav::http
