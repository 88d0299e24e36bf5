// Bytes as an origin server sends them, cut into pieces where the first byte says, through the parser of
// answers as the relay drives it (interim answers restart it, the end of the connection ends it), then the
// body through the decoder of the word check. Nothing may crash, hang or break the parser's promises: no
// body before the head or after a failure, none for an answer to HEAD, nothing used once it is done; and no
// text past the decoder's limit, some for a body cut short, none for one it cannot read.
#include "content_decoder.hpp"
#include "response_parser.hpp"

#include <tav/http/atom.hpp>
#include <tav/msg.hpp>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const bool head_request = (data[0] & 0x80) != 0;
    const std::size_t piece = 1 + (data[0] & 0x3f);
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    auto parser = std::make_unique<tav::http::response_parser>(head_request);
    std::string body;
    std::size_t at = 0;
    std::string pending;
    for (;;) {
        const std::size_t used = parser->feed(pending.data(), pending.size());
        if (used > pending.size())
            std::abort();
        pending.erase(0, used);
        if (ACE_Message_Block* taken = parser->take_body()) {
            if (!parser->head_done() || head_request)
                std::abort();
            for (const ACE_Message_Block* b = taken; b != nullptr; b = b->cont())
                body.append(b->rd_ptr(), b->length());
            tav::release_msg(taken);
        }
        if (parser->failed())
            return 0;
        if (parser->interim()) {
            parser = std::make_unique<tav::http::response_parser>(head_request);
            continue;
        }
        if (parser->done()) {
            if (parser->feed("x", 1) != 0)
                std::abort();
            break;
        }
        if (used > 0)
            continue;
        if (at == bytes.size()) {
            parser->end_of_input();
            if (!parser->done() && !parser->failed())
                std::abort();
            break;
        }
        const std::size_t take = std::min(piece, bytes.size() - at);
        pending.append(bytes, at, take);
        at += take;
    }
    if (!parser->head_done() || parser->failed())
        return 0;
    const std::string* coding = parser->head()->headers.find(tav::http::atom::intern("Content-Encoding"));
    using tav::http::content_decoder;
    std::string text;
    const auto read =
        content_decoder::decode(coding != nullptr ? *coding : std::string(), body, 1 << 16, text);
    if (text.size() > (1 << 16) || (read == content_decoder::cut_short && text.empty()) ||
        (read == content_decoder::unreadable && !text.empty()))
        std::abort();
    return 0;
}
