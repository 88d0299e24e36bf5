#include "content_decoder.hpp"
#include "deflate.hpp"

#include <brotli/encode.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using tav::http::content_decoder;

using deflate_text::pack;

std::string brotli(const std::string& text) {
    std::size_t size = BrotliEncoderMaxCompressedSize(text.size());
    std::string packed(size, '\0');
    BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, text.size(),
                          reinterpret_cast<const std::uint8_t*>(text.data()), &size,
                          reinterpret_cast<std::uint8_t*>(packed.data()));
    packed.resize(size);
    return packed;
}

TEST(content_decoder, EachCodingGivesBackTheTextUpToTheLimit) {
    const std::string page = "<html><body>" + std::string(100000, 'x') + " poker</body></html>";
    const std::string gzip = pack(page, 15 + 16);
    const std::string br = brotli(page);
    const std::string bomb(50 << 20, 'a');
    const auto whole = content_decoder::whole;
    const auto cut_short = content_decoder::cut_short;
    const auto unreadable = content_decoder::unreadable;
    const struct {
        const char* what;
        std::string coding;
        std::string body;
        std::size_t limit;
        content_decoder::outcome result;
        std::string text;
        bool prefix = false; // any non-empty start of `text` will do
    } cases[] = {
        {"no coding", "", page, 1 << 20, whole, page},
        {"identity, cut at the limit", "Identity", page, 12, whole, page.substr(0, 12)},
        {"gzip", " GZIP ", gzip, 1 << 20, whole, page},
        {"x-gzip", "x-gzip", gzip, 1 << 20, whole, page},
        {"deflate in zlib's format", "deflate", pack(page, 15), 1 << 20, whole, page},
        {"bare deflate", "deflate", pack(page, -15), 1 << 20, whole, page},
        {"brotli", "BR", br, 1 << 20, whole, page},
        {"a bomb stops at the limit", "gzip", pack(bomb, 15 + 16), 4096, whole, std::string(4096, 'a')},
        {"a brotli bomb too", "br", brotli(bomb), 4096, whole, std::string(4096, 'a')},
        {"the word in a second gzip member", "gzip", pack("<p>fine ", 15 + 16) + pack("poker</p>", 15 + 16),
         1 << 20, whole, "<p>fine poker</p>"},
        {"gzip without its trailer", "gzip", gzip.substr(0, gzip.size() - 8), 1 << 20, cut_short, page},
        {"gzip and garbage after it", "gzip", gzip + "garbage", 1 << 20, cut_short, page},
        {"truncated", "gzip", gzip.substr(0, gzip.size() / 2), 1 << 20, cut_short, page, true},
        {"brotli cut short", "br", br.substr(0, br.size() - 4), 1 << 20, cut_short, page, true},
        {"not gzip at all", "gzip", page, 1 << 20, unreadable, ""},
        {"a coding it cannot read", "compress", page, 1 << 20, unreadable, ""},
        {"an empty body", "gzip", "", 1 << 20, whole, ""},
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(c.result, content_decoder::decode(c.coding, c.body, c.limit, text)) << c.what;
        if (c.prefix) {
            EXPECT_FALSE(text.empty()) << c.what;
            EXPECT_EQ(c.text.substr(0, text.size()), text) << c.what;
        } else {
            EXPECT_EQ(c.text, text) << c.what;
        }
    }
    EXPECT_TRUE(content_decoder::readable("gzip"));
    EXPECT_TRUE(content_decoder::readable("br"));
    EXPECT_FALSE(content_decoder::readable("gzip, br"));
}

} // namespace
