#include "response_parser.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::http::response_parser;

struct parsed {
    bool failed = false;
    bool done = false;
    int status = 0;
    std::string body;
    bool keep_alive = false;
};

// Feeds `answer` `piece` bytes at a time, as reads would bring it, then the end of the connection when
// `closed`.
parsed parse(const std::string& answer, std::size_t piece, bool no_body = false, bool closed = false) {
    response_parser parser(no_body);
    std::string window;
    for (std::size_t at = 0; !parser.failed() && !parser.done();) {
        if (at >= answer.size() && window.empty())
            break;
        if (at < answer.size()) {
            window.append(answer, at, piece);
            at += piece;
        }
        const std::size_t used = parser.feed(window.data(), window.size());
        window.erase(0, used);
        if (used == 0 && at >= answer.size())
            break;
    }
    if (closed)
        parser.end_of_input();
    parsed result;
    result.failed = parser.failed();
    result.done = parser.done();
    result.status = parser.head() ? parser.head()->status() : 0;
    for (ACE_Message_Block* b = parser.take_body(); b != nullptr;) {
        result.body.append(b->rd_ptr(), b->length());
        ACE_Message_Block* next = b->cont();
        b->cont(nullptr);
        b->release();
        b = next;
    }
    result.keep_alive = parser.done() && parser.keep_alive();
    return result;
}

TEST(ResponseParser, DecodesEveryFramingInAnyPieces) {
    const struct {
        const char* name;
        std::string answer;
        bool no_body;
        bool closed;
        int status;
        const char* body;
        bool keep_alive;
    } cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, false, 200, "hello", true},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nhel\r\n2;x=y\r\nlo\r\n0\r\n\r\n", false,
         false, 200, "hello", true},
        {"until close", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nhello", false, true, 200, "hello",
         false},
        {"HTTP/1.0", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi", false, false, 200, "hi", false},
        {"answer to HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", true, false, 200, "", true},
        {"no content", "HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\n", false, false, 204, "", true},
        {"not modified", "HTTP/1.1 304 Not Modified\r\n\r\n", false, false, 304, "", true},
        {"interim", "HTTP/1.1 100 Continue\r\n\r\n", false, false, 100, "", true},
    };
    for (const auto& c : cases)
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, c.answer.size()}) {
            const parsed p = parse(c.answer, piece, c.no_body, c.closed);
            EXPECT_FALSE(p.failed) << c.name << " in pieces of " << piece;
            EXPECT_TRUE(p.done) << c.name << " in pieces of " << piece;
            EXPECT_EQ(c.status, p.status) << c.name;
            EXPECT_EQ(c.body, p.body) << c.name << " in pieces of " << piece;
            EXPECT_EQ(c.keep_alive, p.keep_alive) << c.name;
        }
}

TEST(ResponseParser, RefusesWhatCannotBeRelayedSafely) {
    const struct {
        const char* name;
        std::string answer;
        bool closed;
    } cases[] = {
        {"garbage", "SSH-2.0-OpenSSH_9.2\r\n\r\n", false},
        {"bad status", "HTTP/1.1 2x0 OK\r\n\r\n", false},
        {"protocol switch", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n", false},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", false},
        {"bad chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false},
        {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", true},
        {"head too long", "HTTP/1.1 200 OK\r\nX-Long: " + std::string(70 * 1024, 'a') + "\r\n\r\n", false},
    };
    for (const auto& c : cases) {
        const parsed p = parse(c.answer, 512, false, c.closed);
        EXPECT_TRUE(p.failed) << c.name;
        EXPECT_FALSE(p.done) << c.name;
    }
}

} // namespace
