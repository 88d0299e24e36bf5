#include "client_hello.hpp"
#include "tls_hello.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tav::http::client_hello;
using state = client_hello::state;

using tls_hello::hello;
using tls_hello::length;
using tls_hello::server_name;

TEST(client_hello, TheServerNameIsReadFromWholeHandshakesOnly) {
    const struct {
        const char* what;
        std::string bytes;
        state expected;
        const char* name;
    } cases[] = {
        {"curl's", tls_hello::seed("curl"), state::done, "site.example"},
        {"chromium's, larger than a segment", tls_hello::seed("chromium"), state::done, "site.example"},
        {"one spread over records of 7 bytes", hello(server_name("a.example"), 7), state::done, "a.example"},
        {"one without a name", hello(""), state::done, ""},
        {"plain HTTP", "GET / HTTP/1.1\r\n\r\n", state::not_tls, ""},
        {"SSH", "SSH-2.0-OpenSSH_9.2\r\n", state::not_tls, ""},
        {"a name with a space", hello(server_name("a b")), state::malformed, ""},
        {"an empty name", hello(server_name("")), state::malformed, ""},
        {"a name list running past its extension", hello(length(0, 2) + length(4, 2) + length(9, 2) + "ab"),
         state::malformed, ""},
        {"two server names", hello(server_name("a.example") + server_name("b.example")), state::malformed,
         ""},
        {"a record over 16 KiB", "\x16\x03\x01" + length(16385, 2) + std::string(16385, 'x'),
         state::malformed, ""},
        {"a handshake that is not a ClientHello", "\x16\x03\x03" + length(4, 2) + "\x02" + length(0, 3),
         state::malformed, ""},
        {"a ClientHello longer than the limit", "\x16\x03\x01" + length(4, 2) + "\x01" + length(20000, 3),
         state::malformed, ""},
        {"a record of another kind after the first",
         hello(server_name("a.example"), 7).substr(0, 12) + "\x17\x03\x03" + length(1, 2) + "x",
         state::malformed, ""},
    };
    for (const auto& c : cases) {
        std::string name = "stale";
        EXPECT_EQ(client_hello::read(c.bytes.data(), c.bytes.size(), name), c.expected) << c.what;
        EXPECT_EQ(name, c.name) << c.what;
    }
}

TEST(client_hello, AHandshakeArrivingAByteAtATimeNeedsMoreUntilItIsWhole) {
    for (const std::string& whole : {tls_hello::seed("chromium"), hello(server_name("a.example"), 100)}) {
        std::string name;
        for (std::size_t size = 0; size < whole.size(); ++size)
            ASSERT_EQ(client_hello::read(whole.data(), size, name), state::need_more) << size;
        EXPECT_EQ(client_hello::read(whole.data(), whole.size(), name), state::done);
    }
}

} // namespace
