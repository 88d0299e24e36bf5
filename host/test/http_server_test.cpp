#include "connection.hpp"
#include "http_client.hpp"
#include "http_server.hpp"
#include <support/fake_steady_source.hpp>

#include "log_folder.hpp"
#include <support/event_loop.hpp>
#include <support/loopback.hpp>

#include <tav/http/active_extension.hpp>
#include <tav/http/ext_transaction_base.hpp>
#include <tav/msg.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace tav::http;
using event_loop::eventually;
using http_client::client;

// Answers requests for the host "site.test": "/echo" with the method, the target and the body (and the
// request's Content-Length in X-Length); "/late" only once the test releases it, holding a loop thread
// meanwhile; "/held" likewise, from the test's thread, holding none; "/unended" at once, with a noted log
// field, but ends the answer only once the test releases it.
class test_extension : public active_extension {
public:
    using active_extension::active_extension;
    using active_extension::start;

    class transaction : public ext_transaction_base {
    public:
        transaction(test_extension* owner, const boost::intrusive_ptr<response_handler>& response)
            : ext_transaction_base(owner, response), owner_(owner) {}
        void OnRequestBody(ACE_Message_Block* piece, bool last) override {
            body_.append(piece->rd_ptr(), piece->length());
            tav::release_msg(piece);
            if (!last)
                return;
            const std::string& path = get_request_head().uri.path();
            if (path == "/late")
                wait_for_release();
            if (path == "/held" && owner_->hold(this))
                return;
            answer_request();
        }
        void answer_request() {
            const request_head& head = get_request_head();
            const bool unended = head.uri.path() == "/unended";
            auto answer = response_head::create(200, nullptr, version::one_one_);
            answer->headers.set(atom::content_type_header, "text/plain");
            if (const std::string* length = head.headers.find(atom::content_length_header))
                answer->headers.set(atom::intern("X-Length"), *length);
            const std::string text = head.method + " " + head.target + " " + body_;
            if (unended) {
                answer->headers.set(atom::content_length_header, std::to_string(text.size()));
                boost::intrusive_ptr<tav::log_record> noted(new tav::log_record);
                noted->set_field("x-decision", "noted", true);
                get_response_handler().note(noted);
            }
            send_response_head(answer);
            send_response_body(text.data(), text.size());
            if (unended)
                wait_for_release();
            send_response_end(nullptr);
        }
        void OnTerminate() override { ++owner_->terminated; }

    private:
        void wait_for_release() {
            ++owner_->late;
            std::unique_lock<std::mutex> lock(owner_->mutex);
            owner_->released.wait(lock, [this] { return owner_->release_late; });
        }

        test_extension* owner_;
        std::string body_;
    };

    boost::intrusive_ptr<ext_transaction_base>
    create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr&,
                       const ACE_INET_Addr&,
                       const boost::intrusive_ptr<response_handler>& response) override {
        if (head->uri.host() != "site.test")
            return nullptr;
        return new transaction(this, response);
    }
    // Keeps a transaction for release() to answer; false once released.
    bool hold(const boost::intrusive_ptr<transaction>& t) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (release_late)
            return false;
        held.push_back(t);
        ++late;
        return true;
    }
    void release() {
        std::vector<boost::intrusive_ptr<transaction>> answering;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            release_late = true;
            released.notify_all();
            answering.swap(held);
        }
        for (const auto& t : answering)
            t->answer_request();
    }

    std::mutex mutex;
    std::condition_variable released;
    bool release_late = false;
    std::vector<boost::intrusive_ptr<transaction>> held;
    std::atomic<int> terminated{0};
    // Transactions waiting for the test's release.
    std::atomic<int> late{0};
};

// Takes requests for "refused.test" as the forward proxy takes requests for other servers, and refuses each
// as soon as the server hands it over, as the proxy's policy does.
class refusing_forward : public extension {
public:
    class transaction : public ext_transaction_base {
    public:
        using ext_transaction_base::ext_transaction_base;
        void OnRequestHead(const request_head* /*head*/) override { respond_error(403, "Refused."); }
        void OnRequestBody(ACE_Message_Block* piece, bool /*last*/) override { tav::release_msg(piece); }
    };

    boost::intrusive_ptr<ext_transaction_base>
    create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr&,
                       const ACE_INET_Addr&,
                       const boost::intrusive_ptr<response_handler>& response) override {
        if (head->uri.host() != "refused.test")
            return nullptr;
        return new transaction(this, response);
    }
    bool enqueue_request(const boost::intrusive_ptr<ext_transaction_base>& t, ACE_Message_Block* body,
                         bool last) override {
        t->OnRequestBody(body, last);
        return true;
    }
    bool enqueue_transaction(const boost::intrusive_ptr<ext_transaction_base>& t) override {
        t->OnRequestHead(&t->get_request_head());
        return true;
    }
    void on_transaction_close(ext_transaction_base* /*t*/) override {}
    tav::aio_cmd_handler* get_aio_handler() override { return nullptr; }
};

server_settings test_settings() {
    server_settings settings;
    settings.listen = ACE_INET_Addr(static_cast<u_short>(0), "127.0.0.1");
    const std::string site = "http://site.test/";
    settings.site.parse_absolute(site.data(), site.data() + site.size());
    settings.access_log = "";
    return settings;
}

class http_server_test : public log_folder_test {
protected:
    // The server's deadlines read the test's time.
    void start(server_settings settings = test_settings(),
               const boost::intrusive_ptr<tav::http::extension>& forward = nullptr) {
        settings.clock = time;
        server = new http_server(proactor.get(), settings);
        extension = new test_extension(server);
        ASSERT_TRUE(extension->start());
        server->add_extension(extension);
        server->set_forward(forward);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
        port = server->address().get_port_number();
    }
    void TearDown() override {
        if (extension != nullptr)
            extension->release();
        if (server != nullptr)
            server->stop();
        if (extension != nullptr)
            extension->stop();
        loops.stop();
        log_folder_test::TearDown();
    }
    // A request of the server still gets its answer.
    bool still_answers() {
        client c(port);
        c.send("GET /echo HTTP/1.1\r\nHost: site.test\r\n\r\n");
        auto r = c.read();
        return r && r->status == 200 && r->body == "GET /echo ";
    }

    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(2)};
    event_loop::loop_threads loops{proactor.get(), 2};
    std::shared_ptr<fake_steady_source> time = std::make_shared<fake_steady_source>();
    boost::intrusive_ptr<http_server> server;
    boost::intrusive_ptr<test_extension> extension;
    std::uint16_t port = 0;
};

TEST_F(http_server_test, PipelinedRequestsAreAnsweredInOrderOnOneConnection) {
    start();
    client c(port);
    ASSERT_TRUE(c.send("GET /late HTTP/1.1\r\nHost: site.test\r\n\r\n"
                       "POST /echo HTTP/1.1\r\nHost: site.test\r\nContent-Length: 3\r\n\r\nabc"
                       "HEAD /echo HTTP/1.1\r\nHost: site.test\r\n\r\n"
                       "GET http://elsewhere.test/x?a=<b> HTTP/1.1\r\nHost: elsewhere.test\r\n\r\n"));
    // The later answers are ready first, and wait for the first one.
    extension->release();
    auto late = c.read();
    ASSERT_TRUE(late);
    EXPECT_EQ("GET /late ", late->body) << c.received();
    auto echo = c.read();
    ASSERT_TRUE(echo);
    EXPECT_EQ("POST /echo abc", echo->body);
    EXPECT_EQ("text/plain", echo->fields["content-type"]);
    auto head = c.read(true);
    ASSERT_TRUE(head);
    EXPECT_EQ("11", head->fields["content-length"]) << "HEAD tells the length of what GET would send";
    EXPECT_TRUE(head->body.empty());
    auto missing = c.read();
    ASSERT_TRUE(missing);
    EXPECT_EQ(404, missing->status);
    EXPECT_EQ(std::string::npos, missing->body.find("<b>")) << missing->body;
    ASSERT_TRUE(c.send("GET /echo HTTP/1.1\r\nHost: site.test\r\nConnection: close\r\n\r\n"));
    auto last = c.read();
    ASSERT_TRUE(last);
    EXPECT_EQ("close", last->fields["connection"]);
    EXPECT_TRUE(c.closed_by_server());
}

TEST_F(http_server_test, ChunkedBodiesAndExpectContinue) {
    start();
    client c(port);
    ASSERT_TRUE(c.send("POST /echo HTTP/1.1\r\nHost: site.test\r\nTransfer-Encoding: chunked\r\n\r\n"
                       "3\r\nabc\r\n4;x=y\r\ndefg\r\n0\r\n\r\n"));
    auto chunked = c.read();
    ASSERT_TRUE(chunked);
    EXPECT_EQ("POST /echo abcdefg", chunked->body);

    ASSERT_TRUE(c.send(
        "POST /echo HTTP/1.1\r\nHost: site.test\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\n"));
    EXPECT_EQ("HTTP/1.1 100 Continue\r\n\r\n", c.read_bytes(25));
    ASSERT_TRUE(c.send("hello"));
    auto continued = c.read();
    ASSERT_TRUE(continued);
    EXPECT_EQ("POST /echo hello", continued->body);
}

TEST_F(http_server_test, EveryBadRequestGetsItsStatusAndTheConnectionCloses) {
    start();
    const std::string head = "GET /echo HTTP/1.1\r\nHost: site.test\r\n";
    const struct {
        const char* what;
        std::string bytes;
        int status;
    } cases[] = {
        {"a head over 64 KiB", head + "X-Big: " + std::string(70000, 'a') + "\r\n\r\n", 431},
        {"a body announced over 1 MiB",
         "POST /echo HTTP/1.1\r\nHost: site.test\r\nContent-Length: 1048577\r\n\r\n", 413},
        {"a chunked body over 1 MiB",
         "POST /echo HTTP/1.1\r\nHost: site.test\r\nTransfer-Encoding: chunked\r\n\r\n100001\r\n" +
             std::string(0x100001, 'b') + "\r\n0\r\n\r\n",
         413},
        {"a malformed request line", "GARBAGE\r\n\r\n", 400},
        {"a malformed field", head + "No colon here\r\n\r\n", 400},
        {"a bad chunk size",
         "POST /echo HTTP/1.1\r\nHost: site.test\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 400},
        {"a method the site does not answer", "DELETE /echo HTTP/1.1\r\nHost: site.test\r\n\r\n", 501},
        {"an unknown method", "BREW /echo HTTP/1.1\r\nHost: site.test\r\n\r\n", 501},
        {"a length and a transfer coding",
         "POST /echo HTTP/1.1\r\nHost: site.test\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
         "0\r\n\r\n",
         400},
        {"two lengths",
         "POST /echo HTTP/1.1\r\nHost: site.test\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\nabc", 400},
        {"a folded field", head + "X-A: 1\r\n 2\r\n\r\n", 400},
        {"CONNECT to no port", "CONNECT casino.example HTTP/1.1\r\nHost: casino.example\r\n\r\n", 400},
        {"an unsupported version", "GET /echo HTTP/2.0\r\nHost: site.test\r\n\r\n", 505},
        {"a target without a host", "GET http://:8008/echo HTTP/1.1\r\nHost: site.test\r\n\r\n", 400},
        {"a target in no form", "GET echo HTTP/1.1\r\nHost: site.test\r\n\r\n", 400},
    };
    for (const auto& bad : cases) {
        client c(port);
        c.send(bad.bytes);
        auto r = c.read();
        ASSERT_TRUE(r) << bad.what;
        EXPECT_EQ(bad.status, r->status) << bad.what;
        EXPECT_EQ("close", r->fields["connection"]) << bad.what;
        EXPECT_TRUE(c.closed_by_server()) << bad.what;
        EXPECT_TRUE(still_answers()) << "after " << bad.what;
    }
}

TEST_F(http_server_test, RequestsWhoseFramingIsDoubtfulAreRefusedAndTraceIsNot) {
    start();
    const std::string post = "POST /echo HTTP/1.1\r\nHost: site.test\r\n";
    const std::string chunks = "3\r\nabc\r\n0\r\n\r\n";
    const struct {
        const char* what;
        std::string bytes;
        int status;
        bool closes;
        // Text that the answer holds.
        const char* shows;
    } cases[] = {
        {"a coding without chunked", post + "Transfer-Encoding: gzip\r\n\r\nabc", 400, true, ""},
        {"identity", post + "Transfer-Encoding: identity\r\n\r\nabc", 400, true, ""},
        {"chunked before another coding", post + "Transfer-Encoding: chunked, gzip\r\n\r\n" + chunks, 400,
         true, ""},
        {"chunked, then another coding in a field of its own",
         post + "Transfer-Encoding: chunked\r\nTransfer-Encoding: x-gzip\r\n\r\n" + chunks, 400, true, ""},
        {"an unknown coding", post + "Transfer-Encoding: foo\r\n\r\nabc", 501, true, ""},
        {"chunked before an unknown coding", post + "Transfer-Encoding: chunked, foo\r\n\r\n" + chunks, 501,
         true, ""},
        {"an unknown coding before chunked", post + "Transfer-Encoding: foo, chunked\r\n\r\n" + chunks, 501,
         true, ""},
        {"a known coding before chunked", post + "Transfer-Encoding: GZIP, chunked\r\n\r\n" + chunks, 501,
         true, ""},
        {"a coding before chunked in two fields",
         post + "Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks, 501, true, ""},
        {"chunked twice in two fields",
         post + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks, 501, true, ""},
        {"chunked in capitals", post + "Transfer-Encoding: Chunked\r\n\r\n" + chunks, 200, false,
         "POST /echo abc"},
        {"one length twice in one field", post + "Content-Length: 5, 5\r\n\r\nhello", 200, false,
         "X-Length: 5\r\n"},
        {"two lengths in one field", post + "Content-Length: 5, 6\r\n\r\nhello", 400, true, ""},
        {"a trace of the site", "TRACE /echo HTTP/1.1\r\nHost: site.test\r\nCookie: a=1\r\n\r\n", 405, false,
         "Allow: GET, HEAD, POST\r\n"},
        {"a trace through the proxy",
         "TRACE http://elsewhere.test/ HTTP/1.1\r\nHost: elsewhere.test\r\nCookie: a=1\r\n\r\n", 405, false,
         "Allow: DELETE, GET, HEAD, OPTIONS, PATCH, POST, PUT\r\n"},
    };
    for (const auto& c : cases) {
        client each(port);
        ASSERT_TRUE(each.send(c.bytes)) << c.what;
        auto r = each.read();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(c.status, r->status) << c.what << ": " << each.received();
        EXPECT_NE(std::string::npos, each.received().find(c.shows)) << c.what << ": " << each.received();
        EXPECT_EQ(std::string::npos, each.received().find("a=1")) << c.what << ": " << each.received();
        if (c.closes) {
            EXPECT_EQ("close", r->fields["connection"]) << c.what;
            EXPECT_TRUE(each.closed_by_server()) << c.what;
        } else {
            // The connection goes on to the next request.
            ASSERT_TRUE(each.send("GET /echo HTTP/1.1\r\nHost: site.test\r\n\r\n")) << c.what;
            auto next = each.read();
            ASSERT_TRUE(next) << c.what;
            EXPECT_EQ("GET /echo ", next->body) << c.what;
        }
    }
}

TEST_F(http_server_test, ARequestRefusedBeforeItsBodyGetsNo100ContinueAndTheConnectionCloses) {
    start(test_settings(), new refusing_forward);
    const std::string waits = "Expect: 100-continue\r\nContent-Length: 5\r\n\r\n";
    const struct {
        const char* what;
        std::string head;
        int status;
    } cases[] = {
        {"refused by the forward extension as it takes the request",
         "POST http://refused.test/ HTTP/1.1\r\nHost: refused.test\r\n" + waits, 403},
        {"for nothing here", "POST http://elsewhere.test/ HTTP/1.1\r\nHost: elsewhere.test\r\n" + waits, 404},
        {"too large",
         "POST /echo HTTP/1.1\r\nHost: site.test\r\nExpect: 100-continue\r\nContent-Length: "
         "2000000\r\n\r\n",
         413},
        {"a method the site does not answer", "PUT /echo HTTP/1.1\r\nHost: site.test\r\n" + waits, 501},
        {"a trace", "TRACE /echo HTTP/1.1\r\nHost: site.test\r\n" + waits, 405},
    };
    for (const auto& c : cases) {
        client each(port);
        ASSERT_TRUE(each.send(c.head)) << c.what;
        auto r = each.read();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(c.status, r->status) << c.what << ": " << each.received();
        EXPECT_EQ("close", r->fields["connection"]) << c.what << ": the body may or may not follow";
        EXPECT_TRUE(each.closed_by_server()) << c.what;
    }
    EXPECT_TRUE(still_answers());
}

TEST_F(http_server_test, ConnectionsPastTheirDeadlineAreClosed) {
    start();
    client idle(port);
    client trickling(port);
    client waiting(port);
    ASSERT_TRUE(trickling.send("GET /echo HTTP/1.1\r\nHo"));
    ASSERT_TRUE(waiting.send("GET /late HTTP/1.1\r\nHost: site.test\r\n\r\n"));
    ASSERT_TRUE(eventually([&] { return server->connections() == 3 && extension->late == 1; }));
    // Nothing is due yet; a head that has not come whole in time is, and so is an idle connection; one
    // waiting for its answer is not.
    server->check_timeouts(time->now());
    server->check_timeouts(time->now() + std::chrono::minutes(5));
    EXPECT_TRUE(idle.closed_by_server());
    EXPECT_TRUE(trickling.closed_by_server());
    extension->release();
    auto answer = waiting.read();
    ASSERT_TRUE(answer);
    EXPECT_EQ("GET /late ", answer->body);
}

TEST_F(http_server_test, AClientSendingOneByteASecondIsCutOff) {
    server_settings settings = test_settings();
    settings.head_timeout = std::chrono::seconds(2);
    start(settings);
    client c(port);
    ASSERT_TRUE(eventually([&] { return server->connections() == 1; }));
    const std::string request = "GET /echo HTTP/1.1\r\nHost: site.test\r\nX-Slow: " + std::string(30, 'a');
    // A byte, then a second; the server's timer looks at the connection each second.
    std::size_t sent = 0;
    bool cut = false;
    while (!cut && sent < request.size() && c.send(request.substr(sent, 1))) {
        ++sent;
        time->advance(std::chrono::seconds(1));
        server->check_timeouts(time->now());
        cut = c.readable(100) && c.closed_by_server();
    }
    EXPECT_TRUE(cut);
    EXPECT_LT(sent, request.size());
}

TEST_F(http_server_test, AClientLeavingMidBodyEndsItsTransaction) {
    start();
    {
        client c(port);
        ASSERT_TRUE(
            c.send("POST /echo HTTP/1.1\r\nHost: site.test\r\nContent-Length: 100\r\n\r\nonly ten b"));
        ASSERT_TRUE(eventually([&] { return server->connections() == 1; }));
    }
    EXPECT_TRUE(eventually([&] { return extension->terminated == 1; }));
    EXPECT_TRUE(eventually([&] { return server->connections() == 0; }));
    EXPECT_TRUE(still_answers());
}

TEST_F(http_server_test, AClientThatEndsItsSideStillGetsTheAnswersComing) {
    start();
    loopback::fd_guard c(loopback::connect_to(port));
    ASSERT_GE(c.fd, 0);
    const std::string requests = "GET /held HTTP/1.1\r\nHost: site.test\r\n\r\n"
                                 "GET /echo HTTP/1.1\r\nHost: site.test\r\n\r\n";
    ASSERT_EQ(static_cast<ssize_t>(requests.size()), ::send(c.fd, requests.data(), requests.size(), 0));
    ASSERT_EQ(0, ::shutdown(c.fd, SHUT_WR));
    ASSERT_TRUE(eventually([&] { return extension->late == 1; }));
    // Nothing comes, not even the end, while the first answer is on its way.
    pollfd quiet{c.fd, POLLIN, 0};
    EXPECT_EQ(0, ::poll(&quiet, 1, 200));
    extension->release();
    const std::string answers = loopback::receive(c.fd, 1 << 20);
    const std::size_t late = answers.find("\r\n\r\nGET /held ");
    EXPECT_NE(std::string::npos, late) << answers;
    EXPECT_NE(std::string::npos, answers.find("\r\n\r\nGET /echo ", late)) << answers;
    EXPECT_TRUE(eventually([&] { return server->connections() == 0; })) << "the connection closes after them";
    EXPECT_EQ(0, extension->terminated);
}

TEST_F(http_server_test, ConnectionsBeyondTheCapAreRefused) {
    server_settings settings = test_settings();
    settings.max_connections = 2;
    start(settings);
    client first(port);
    client second(port);
    ASSERT_TRUE(eventually([&] { return server->connections() == 2; }));
    client third(port);
    EXPECT_TRUE(third.closed_by_server());
    first.close();
    ASSERT_TRUE(eventually([&] { return server->connections() == 1; }));
    EXPECT_TRUE(still_answers());
}

// One computer cannot take every connection, nor keep one without sending a request: the others are still
// served, and a silent connection goes after the head timeout, not the idle one.
TEST_F(http_server_test, OneComputerCannotHoldEveryConnection) {
    server_settings settings = test_settings();
    settings.max_connections = 8; // one address holds 7 at most
    settings.head_timeout = std::chrono::seconds(1);
    settings.idle_timeout = std::chrono::minutes(5);
    start(settings);
    std::vector<std::unique_ptr<client>> silent;
    for (int i = 0; i < 8; ++i)
        silent.push_back(std::make_unique<client>(port, "127.0.0.2"));
    ASSERT_TRUE(eventually([&] { return server->connections() == 7; })) << server->connections();
    // The accepts complete in any order, so the one refused is whichever came eighth to the server.
    std::size_t refused = silent.size();
    ASSERT_TRUE(eventually([&] {
        for (refused = 0; refused < silent.size() && !silent[refused]->readable(0); ++refused) {
        }
        return refused < silent.size();
    })) << "no connection from the address was refused";
    EXPECT_TRUE(silent[refused]->closed_by_server()) << "the eighth from one address is refused at once";
    silent.erase(silent.begin() + static_cast<std::ptrdiff_t>(refused));
    client other(port, "127.0.0.3");
    ASSERT_TRUE(other.send("GET /echo HTTP/1.1\r\nHost: site.test\r\n\r\n"));
    EXPECT_TRUE(other.read()) << "another computer is still served";
    time->advance(settings.head_timeout);
    server->check_timeouts(time->now());
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(silent[i]->closed_by_server()) << "silent connection " << i;
}

TEST_F(http_server_test, TwoThousandConnectionsOpenAtOnceAreEachAnswered) {
    constexpr int connections = 2000;
    rlimit limit{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &limit));
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 16384);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &limit));
    ASSERT_GE(limit.rlim_cur, rlim_t{2 * connections + 200}) << "too few descriptors allowed";
    start();
    std::vector<std::unique_ptr<client>> clients;
    for (int i = 0; i < connections; ++i) {
        clients.push_back(std::make_unique<client>(port));
        ASSERT_TRUE(clients.back()->connected()) << i;
    }
    ASSERT_TRUE(eventually([&] { return server->connections() == connections; })) << server->connections();
    for (int i = 0; i < connections; ++i)
        ASSERT_TRUE(clients[i]->send("POST /echo HTTP/1.1\r\nHost: site.test\r\nContent-Length: " +
                                     std::to_string(std::to_string(i).size()) + "\r\n\r\n" +
                                     std::to_string(i)));
    for (int i = 0; i < connections; ++i) {
        auto r = clients[i]->read();
        ASSERT_TRUE(r) << i;
        ASSERT_EQ("POST /echo " + std::to_string(i), r->body);
    }
}

TEST_F(http_server_test, EachAnswerIsOneRecordOfTheAccessLog) {
    server_settings settings = test_settings();
    settings.access_log = "access";
    start(settings);
    client c(port);
    ASSERT_TRUE(c.send("GET /echo HTTP/1.1\r\nHost: site.test\r\nUser-Agent: Test Agent\r\n\r\n"
                       "GET http://nowhere.test/nothing HTTP/1.1\r\nHost: nowhere.test\r\n\r\n"));
    ASSERT_TRUE(c.read());
    ASSERT_TRUE(c.read());
    server->stop();
    const auto written = lines("log/access/log.txt");
    ASSERT_EQ(6u, written.size());
    EXPECT_EQ(
        "#Fields:\tdate\ttime\tc-ip\tcs-method\tcs-uri\tsc-status\tsc-bytes\tcs(User-Agent)\tx-decision\t"
        "x-reason",
        written[1]);
    EXPECT_NE(std::string::npos,
              written[4].find("\t127.0.0.1\tGET\thttp://site.test/echo\t200\t10\tTest_Agent"))
        << written[4];
    EXPECT_NE(std::string::npos, written[5].find("\tGET\thttp://nowhere.test/nothing\t404\t")) << written[5];
    // A log reader takes every record.
    ASSERT_EQ(
        0,
        std::system("goaccess log/access/log.txt --no-global-config --log-format='%d\\t%t\\t%h\\t%m\\t%U\\t%s"
                    "\\t%b\\t%u\\t%^\\t%^' --date-format=%Y-%m-%d --time-format=%H:%M:%S -o report.json"
                    " </dev/null >goaccess.out 2>&1"))
        << read("goaccess.out");
    const std::string report = read("report.json");
    EXPECT_NE(std::string::npos, report.find("\"valid_requests\": 2,")) << report.substr(0, 400);
    EXPECT_NE(std::string::npos, report.find("\"failed_requests\": 0,")) << report.substr(0, 400);
}

TEST_F(http_server_test, AnAnswerTheClientLeavesBeforeItsEndIsLoggedWithWhatWasNoted) {
    server_settings settings = test_settings();
    settings.access_log = "access";
    start(settings);
    {
        client c(port);
        ASSERT_TRUE(c.send("GET /unended HTTP/1.1\r\nHost: site.test\r\n\r\n"));
        auto r = c.read();
        ASSERT_TRUE(r) << c.received();
        EXPECT_EQ("GET /unended ", r->body);
    }
    EXPECT_TRUE(eventually([&] { return extension->terminated == 1; })) << extension->terminated;
    extension->release();
    server->stop();
    const std::string log = read("log/access/log.txt");
    EXPECT_NE(std::string::npos, log.find("/unended\t200\t13\t-\tnoted\t-")) << log;
}

} // namespace
