#include "content_decoder.hpp"
#include "deflate.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::http::content_decoder;

using deflate_text::pack;

TEST(content_decoder, EachCodingGivesBackTheTextUpToTheLimit) {
    const std::string page = "<html><body>" + std::string(100000, 'x') + " poker</body></html>";
    const std::string gzip = pack(page, 15 + 16);
    const struct {
        const char* what;
        std::string coding;
        std::string body;
        std::size_t limit;
        bool ok;
        std::string text;
    } cases[] = {
        {"no coding", "", page, 1 << 20, true, page},
        {"identity, cut at the limit", "Identity", page, 12, true, page.substr(0, 12)},
        {"gzip", " GZIP ", gzip, 1 << 20, true, page},
        {"x-gzip", "x-gzip", gzip, 1 << 20, true, page},
        {"deflate in zlib's format", "deflate", pack(page, 15), 1 << 20, true, page},
        {"bare deflate", "deflate", pack(page, -15), 1 << 20, true, page},
        {"a bomb stops at the limit", "gzip", pack(std::string(50 << 20, 'a'), 15 + 16), 4096, true,
         std::string(4096, 'a')},
        {"truncated", "gzip", gzip.substr(0, gzip.size() / 2), 1 << 20, false, ""},
        {"not gzip at all", "gzip", page, 1 << 20, false, ""},
        {"a coding it cannot read", "br", page, 1 << 20, false, ""},
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(c.ok, content_decoder::decode(c.coding, c.body, c.limit, text)) << c.what;
        if (c.ok) {
            EXPECT_EQ(c.text, text) << c.what;
        }
    }
    EXPECT_TRUE(content_decoder::readable("gzip"));
    EXPECT_FALSE(content_decoder::readable("br"));
    EXPECT_FALSE(content_decoder::readable("gzip, br"));
}

} // namespace
