#include "connection.hpp"
#include "http_client.hpp"
#include "http_server.hpp"

#include "event_loop.hpp"
#include "log_folder.hpp"

#include <tav/http/active_extension.hpp>
#include <tav/http/ext_transaction_base.hpp>
#include <tav/msg.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tav::http;
using event_loop::eventually;
using http_client::client;

// Answers requests for the host "site.test": "/echo" with the method, the target and the body; "/late" only
// once the test releases it; "/unended" at once, with a noted log field, but ends the answer only once the
// test releases it.
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
            const request_head& head = get_request_head();
            const bool unended = head.uri.path() == "/unended";
            if (head.uri.path() == "/late")
                wait_for_release();
            auto answer = response_head::create(200, nullptr, version::one_one_);
            answer->headers.set(atom::content_type_header, "text/plain");
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
    void release() {
        const std::lock_guard<std::mutex> lock(mutex);
        release_late = true;
        released.notify_all();
    }

    std::mutex mutex;
    std::condition_variable released;
    bool release_late = false;
    std::atomic<int> terminated{0};
    // Transactions waiting for the test's release.
    std::atomic<int> late{0};
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
    void start(const server_settings& settings = test_settings()) {
        server = new http_server(proactor.get(), settings);
        extension = new test_extension(server);
        ASSERT_TRUE(extension->start());
        server->add_extension(extension);
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
    server->check_timeouts(std::chrono::steady_clock::now());
    server->check_timeouts(std::chrono::steady_clock::now() + std::chrono::minutes(5));
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
    const std::string request = "GET /echo HTTP/1.1\r\nHost: site.test\r\nX-Slow: " + std::string(30, 'a');
    std::size_t sent = 0;
    std::atomic<bool> cut{false};
    std::thread reader([&] { cut = c.closed_by_server(); });
    while (!cut && sent < request.size() && c.send(request.substr(sent, 1))) {
        ++sent;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    reader.join();
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
