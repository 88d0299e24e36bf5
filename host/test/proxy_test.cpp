#include "deflate.hpp"
#include "forward_proxy.hpp"
#include "http_client.hpp"
#include "http_server.hpp"
#include "test_origin.hpp"
#include "tls_hello.hpp"
#include <support/fake_steady_source.hpp>

#include "PolicyFolder.hpp"
#include "log_folder.hpp"
#include <support/event_loop.hpp>
#include <support/loopback.hpp>

#include <quorrel/ActivityHistory.hpp>
#include <quorrel/ActivityLog.hpp>
#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/CustomerSite.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>
#include <quorrel/InapContentWord.hpp>
#include <quorrel/URLGraphBuilder.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocator counts what is in use; GCC ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tav::http;
using http_client::client;
using test_origin::origin;

// The proxy on a free port of 127.0.0.1, resolving the test's names to 127.0.0.1 and every other name to
// nothing, with no policy (everything allowed) unless a test gives it one.
class proxy_test : public log_folder_test {
protected:
    // With `intercept`, the server also takes redirected connections, each sent to 127.0.0.1:destination.
    // `history`, when given, gets what the computers did.
    void start(tav::DataModel* model = nullptr, bool intercept = false, tav::ActivityLog* history = nullptr) {
        server_settings settings;
        settings.listen = ACE_INET_Addr(static_cast<u_short>(0), "127.0.0.1");
        if (intercept) {
            settings.intercept_listen = settings.listen;
            settings.intercept_timeout = std::chrono::seconds(1);
            settings.original_destination = [this](ACE_HANDLE, ACE_INET_Addr& to) {
                return to.set(destination.load(), "127.0.0.1") == 0;
            };
        }
        const std::string site = "http://admin.tollwick/";
        settings.site.parse_absolute(site.data(), site.data() + site.size());
        settings.access_log = "access";
        settings.clock = time;
        server = new http_server(proactor.get(), settings);
        proxy = new forward_proxy(proactor.get(), model, names, proxy_options, history);
        server->set_forward(proxy);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
        port = server->address().get_port_number();
    }
    void TearDown() override {
        if (server != nullptr)
            server->stop();
        if (proxy != nullptr)
            proxy->stop();
        loops.stop();
        log_folder_test::TearDown();
    }
    // A request through the proxy, for a path of `host` on the origin's port.
    std::string get(const std::string& host, std::uint16_t on, const std::string& path,
                    const std::string& fields = "") const {
        return "GET http://" + host + ":" + std::to_string(on) + path + " HTTP/1.1\r\nHost: " + host +
               "\r\n" + fields + "\r\n";
    }

    // The sample policy with this machine (127.0.0.1) in group 3, which the time rules leave alone.
    std::unique_ptr<tav::DataModel> load_policy() {
        PolicyFolder::Write(
            policy.Root() + "/site/pages/templates/ForbiddenPage.tpl.html",
            PolicyFolder::Read(SAMPLE_CFG "/Administration/site/pages/templates/ForbiddenPage.tpl.html"));
        std::unique_ptr<tav::DataModel> model = policy.Load();
        EXPECT_TRUE(model->SaveClientGroup(*PolicyFolder::MachineInGroup(*model, "3")).IsOK());
        return model;
    }
    // The group of the machine, to change its rules.
    static std::unique_ptr<tav::DataModel::ClientGroup> my_group(tav::DataModel& model) {
        return std::unique_ptr<tav::DataModel::ClientGroup>(
            static_cast<tav::DataModel::ClientGroup*>(model.GetClientGroup("3").GetObj()));
    }
    // The machine's group restricts searches and YouTube at these levels (0 off, 1 moderate, 2 strict), with
    // the table of safe addresses that the service ships.
    static void restrict_searches(tav::DataModel& model, int search, int youtube) {
        if (model.GetSafeSearch() == nullptr) {
            auto table = std::make_shared<tav::SafeSearch>();
            EXPECT_TRUE(table->Load(SAMPLE_CFG "/safesearch.txt").IsOK());
            model.SetSafeSearch(table);
        }
        std::unique_ptr<tav::DataModel::ProtocolSettings> settings;
        ASSERT_TRUE(model.GetProtocolSettings("3", tav::DataModel::PST_HTTPS, settings).IsOK());
        auto& https = dynamic_cast<tav::DataModel::HTTPSProtocolSettings&>(*settings);
        https.SetSafeSearch(search);
        https.SetYouTubeRestrict(youtube);
        ASSERT_TRUE(model.SaveProtocolSettings("3", https).IsOK());
    }

    // Waits up to ten seconds for `done`, looking every 20 ms.
    static bool eventually(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // Waits up to ten seconds for `value` to stay the same over `looks` looks in a row.
    static bool settles(const std::function<std::uint64_t()>& value, int looks) {
        std::uint64_t last = value();
        int same = 0;
        return eventually([&] {
            const std::uint64_t now = value();
            same = now == last ? same + 1 : 0;
            last = now;
            return same >= looks;
        });
    }
    // Whether `fd` has something to read (bytes, or its end) within `ms` milliseconds.
    static bool readable(int fd, int ms) {
        pollfd wait{fd, POLLIN, 0};
        return ::poll(&wait, 1, ms) > 0;
    }
    // Moves time on by `step` and runs the server's and the proxy's timers, as their timers do each second,
    // until `done` (a bounded wait for what the step brings about), at most `steps` times.
    bool time_passes_until(std::chrono::steady_clock::duration step, int steps,
                           const std::function<bool()>& done) {
        for (int i = 0; i < steps; ++i) {
            time->advance(step);
            server->check_timeouts(time->now());
            proxy->handle_time_out(ACE_Time_Value::zero, nullptr);
            if (done())
                return true;
        }
        return false;
    }
    // Bytes the process has allocated and not yet freed.
    static std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        return __sanitizer_get_current_allocated_bytes();
#else
        const struct mallinfo2 heap = ::mallinfo2();
        return heap.uordblks + heap.hblkhd;
#endif
    }
    static std::size_t open_descriptors() {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                      std::filesystem::directory_iterator()));
    }

    PolicyFolder policy{PolicyFolder::Read(SAMPLE_CFG "/zun_data.xml")};
    PolicyFolder hosts{"<tavdata/>"};
    std::shared_ptr<name_resolver> names =
        std::make_shared<name_resolver>(write_hosts(), [](const std::string& host, unsigned short,
                                                          ACE_INET_Addr&) { return "no such name " + host; });
    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(2)};
    event_loop::loop_threads loops{proactor.get(), 2};
    boost::intrusive_ptr<http_server> server;
    boost::intrusive_ptr<forward_proxy> proxy;
    // The time of the server and the proxy, which moves only when a test moves it.
    std::shared_ptr<fake_steady_source> time = std::make_shared<fake_steady_source>();
    // The test's origins are on 127.0.0.1, which the proxy relays to only when told so.
    proxy_settings proxy_options = [this] {
        proxy_settings settings;
        settings.allow_local = true;
        settings.clock = time;
        return settings;
    }();
    std::uint16_t port = 0;
    std::atomic<std::uint16_t> destination{0};

private:
    std::string write_hosts() {
        std::string path = hosts.Root() + "/hosts";
        PolicyFolder::Write(
            path, "127.0.0.1 casino.example school.example pharmacy.example origin.example\n"
                  "127.0.0.1 forcesafesearch.google.com strict.bing.com restrictmoderate.youtube.com\n");
        return path;
    }
};

TEST_F(proxy_test, AnAllowedRequestReachesItsOriginAndTheAnswerComesBackAsSent) {
    origin site([](const std::string& request) -> std::string {
        if (request.find("/chunked") != std::string::npos)
            return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: keep-alive, X-Hop\r\nX-Hop: "
                   "1\r\n\r\n"
                   "4\r\nchun\r\n3\r\nked\r\n0\r\n\r\n";
        if (request.find("/until-close") != std::string::npos)
            return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nuntil close";
        const std::size_t body = request.find("\r\n\r\n") + 4;
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(request.size() - body) +
               "\r\nX-Origin: yes\r\nKeep-Alive: timeout=5\r\n\r\n" + request.substr(body);
    });
    start();
    client c(port);
    ASSERT_TRUE(
        c.send(get("casino.example", site.port(), "/page?x=1",
                   "Proxy-Connection: keep-alive\r\nKeep-Alive: 5\r\nX-Custom: 1\r\nVia: 1.0 other\r\n")));
    auto plain = c.read();
    ASSERT_TRUE(plain) << c.received();
    EXPECT_EQ(200, plain->status);
    EXPECT_EQ("yes", plain->fields["x-origin"]);
    EXPECT_EQ("1.1 tollwick", plain->fields["via"]);
    EXPECT_FALSE(plain->has("keep-alive"));
    ASSERT_EQ(1u, site.requests().size());
    const std::string asked = site.requests()[0];
    EXPECT_EQ(0u, asked.find("GET /page?x=1 HTTP/1.1\r\nHost: casino.example:" + std::to_string(site.port()) +
                             "\r\n"))
        << asked;
    EXPECT_NE(std::string::npos, asked.find("X-Custom: 1\r\n"));
    EXPECT_NE(std::string::npos, asked.find("Via: 1.0 other, 1.1 tollwick\r\n"));
    EXPECT_EQ(std::string::npos, asked.find("Proxy-Connection")) << asked;
    EXPECT_EQ(std::string::npos, asked.find("Keep-Alive")) << asked;

    std::string upload(std::size_t{5} * 1024 * 1024, 'u');
    upload[12345] = '!'; // larger than the site's own body limit: a proxied body streams through
    ASSERT_TRUE(c.send("POST http://school.example:" + std::to_string(site.port()) +
                       "/form HTTP/1.1\r\nHost: school.example\r\nContent-Length: " +
                       std::to_string(upload.size()) + "\r\n\r\n" + upload));
    auto posted = c.read();
    ASSERT_TRUE(posted) << c.received().substr(0, 300);
    EXPECT_EQ(200, posted->status) << posted->body.substr(0, 300);
    EXPECT_EQ(upload, posted->body) << "the same connection carries on";
    ASSERT_TRUE(c.send("POST http://school.example:" + std::to_string(site.port()) +
                       "/form HTTP/1.1\r\nHost: school.example\r\nTransfer-Encoding: chunked\r\n\r\n"
                       "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"));
    auto rechunked = c.read();
    ASSERT_TRUE(rechunked);
    EXPECT_NE(std::string::npos, rechunked->body.find("abc")) << rechunked->body;

    for (const char* path : {"/chunked", "/until-close"}) {
        client each(port);
        ASSERT_TRUE(each.send(get("casino.example", site.port(), path)));
        auto r = each.read();
        ASSERT_TRUE(r) << path << ": " << each.received();
        EXPECT_EQ(std::string(path) == "/chunked" ? "chunked" : "until close", r->body) << path;
        EXPECT_FALSE(r->has("x-hop")) << "a field the origin's Connection names stays with it";
    }

    client pac(port);
    ASSERT_TRUE(pac.send("GET /proxy.pac HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    auto script = pac.read();
    ASSERT_TRUE(script);
    EXPECT_EQ("application/x-ns-proxy-autoconfig", script->fields["content-type"]);
    EXPECT_NE(std::string::npos, script->body.find("return \"PROXY 127.0.0.1:" + std::to_string(port) + "\""))
        << script->body;
}

TEST_F(proxy_test, WhatGoesWrongOnTheWayGetsTheStatusABrowserExpects) {
    origin garbage([](const std::string&) { return std::string("SSH-2.0-OpenSSH_9.2\r\n\r\n"); });
    origin cut([](const std::string&) {
        return std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten..");
    });
    origin closed([](const std::string&) { return std::string(); });
    origin resets([](const std::string&) { return std::string(); }, origin::then::reset);
    origin resets_midway(
        [](const std::string&) {
            return "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'r');
        },
        origin::then::reset);
    std::atomic<bool> stalled{true};
    origin stalls([&](const std::string&) {
        eventually([&] { return !stalled; });
        return std::string();
    });
    proxy_options.origin_timeout = std::chrono::seconds(1);
    int unused = 0;
    {
        origin gone([](const std::string&) { return std::string(); });
        unused = gone.port(); // nothing listens there once it has gone
    }
    start();
    const struct {
        const char* what;
        std::string request;
        int status;
    } cases[] = {
        {"a name that does not resolve", get("nowhere.example", 80, "/"), 502},
        {"an origin that refuses", get("casino.example", static_cast<std::uint16_t>(unused), "/"), 502},
        {"an origin that answers garbage", get("casino.example", garbage.port(), "/"), 502},
        {"an origin that closes without answering", get("casino.example", closed.port(), "/"), 502},
        {"an origin that resets without answering", get("casino.example", resets.port(), "/"), 502},
        {"an origin that stalls", get("casino.example", stalls.port(), "/"), 504},
        {"the proxy itself", get("127.0.0.1", 0, "/"), 403},
    };
    for (const auto& c : cases) {
        client each(port);
        std::string request = c.request;
        if (std::string(c.what) == "the proxy itself")
            request = get("127.0.0.1", port, "/");
        ASSERT_TRUE(each.send(request));
        if (c.status == 504) {
            EXPECT_TRUE(
                time_passes_until(proxy_options.origin_timeout, 5, [&] { return each.readable(100); }))
                << c.what << ": no answer after the origin timeout";
        }
        auto r = each.read();
        ASSERT_TRUE(r) << c.what << ": " << each.received();
        EXPECT_EQ(c.status, r->status) << c.what << ": " << r->body;
    }
    stalled = false;
    for (const origin* cut_short : {&cut, &resets_midway}) {
        client partial(port);
        ASSERT_TRUE(partial.send(get("casino.example", cut_short->port(), "/")));
        EXPECT_FALSE(partial.read()) << "an answer cut short ends with the connection: "
                                     << partial.received();
        EXPECT_TRUE(partial.closed_by_server());
        EXPECT_EQ(0u, partial.received().rfind("HTTP/1.1 200 OK\r\n", 0)) << "what came is relayed";
    }

    // A client that leaves in the middle of its upload takes the origin's connection with it.
    origin upload(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"); });
    {
        client leaving(port);
        ASSERT_TRUE(leaving.send("POST http://casino.example:" + std::to_string(upload.port()) +
                                 "/up HTTP/1.1\r\nHost: casino.example\r\nContent-Length: 10000000\r\n\r\n" +
                                 std::string(1 << 20, 'u')));
    }
    EXPECT_TRUE(eventually([&] { return upload.accepted() == 1 && upload.finished() == 1; }))
        << upload.accepted() << " accepted, " << upload.finished() << " finished";
    EXPECT_TRUE(upload.requests().empty());

    client still(port);
    still.send(get("casino.example", garbage.port(), "/"));
    auto after = still.read();
    ASSERT_TRUE(after);
    EXPECT_EQ(502, after->status) << "the proxy keeps serving";
}

TEST_F(proxy_test, ASlowClientHoldsTheOriginBackInsteadOfFillingTheProxy) {
    const std::size_t size = std::size_t{50} * 1024 * 1024;
    origin big([&](const std::string&) {
        std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
        answer.reserve(answer.size() + size);
        for (std::size_t i = 0; i < size; ++i)
            answer += static_cast<char>('a' + i % 26);
        return answer;
    });
    start();
    client c(port);
    ASSERT_TRUE(c.send(get("casino.example", big.port(), "/big")));
    // The client reads nothing: the origin gets as far as the buffers on the way allow, then waits.
    ASSERT_TRUE(eventually([&] { return big.sent() > 0; }));
    EXPECT_TRUE(settles([&] { return big.sent(); }, 5)) << "the origin keeps sending: " << big.sent();
    EXPECT_LT(big.sent(), 24u * 1024 * 1024) << "the proxy read ahead of its client";
    auto r = c.read();
    ASSERT_TRUE(r);
    ASSERT_EQ(size, r->body.size());
    bool exact = true;
    for (std::size_t i = 0; i < size && exact; ++i)
        exact = r->body[i] == static_cast<char>('a' + i % 26);
    EXPECT_TRUE(exact);

    // A client that leaves in the middle takes the origin's connection with it.
    {
        client leaving(port);
        ASSERT_TRUE(leaving.send(get("casino.example", big.port(), "/big")));
        ASSERT_EQ(1000u, leaving.read_bytes(1000).size());
    }
    ASSERT_TRUE(eventually([&] { return big.finished() == 2; })) << big.finished();
    EXPECT_LT(big.sent(), 2 * size - std::size_t{16} * 1024 * 1024)
        << "the proxy read on after its client had gone";
}

TEST_F(proxy_test, AnAnswerThatAllCameWhileItsClientWasBehindStillEnds) {
    // The second of two pipelined answers waits behind the first, so all of it counts as not yet sent. Sized
    // to pass the proxy's pause mark with its last byte, it has all come when the proxy pauses for the
    // client.
    std::atomic<bool> hold{true};
    origin site(
        [&](const std::string& request) {
            if (request.find("/hold") != std::string::npos)
                eventually([&] { return !hold; });
            const std::size_t size = std::stoul(request.substr(request.find("/size/") + 6));
            return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n" +
                   std::string(size, 's');
        },
        origin::then::keep_alive);
    start();
    const auto ask = [&](const std::string& path) { return get("casino.example", site.port(), path); };
    client measure(port);
    ASSERT_TRUE(measure.send(ask("/size/100000")));
    ASSERT_TRUE(measure.read());
    const std::size_t head = measure.received().find("\r\n\r\n") + 4;
    const std::size_t pause_mark = std::size_t{256} * 1024;

    client c(port);
    const std::size_t last = pause_mark + 1 - head;
    const std::uint64_t before = site.sent();
    ASSERT_TRUE(c.send(ask("/hold/size/1") + ask("/size/" + std::to_string(last))));
    ASSERT_TRUE(eventually([&] { return site.sent() > before + last; }));
    hold = false;
    for (const std::size_t size : {std::size_t{1}, last}) {
        auto r = c.read();
        ASSERT_TRUE(r) << c.received().size();
        EXPECT_EQ(size, r->body.size());
    }
    ASSERT_TRUE(c.send(ask("/size/2")));
    auto next = c.read();
    ASSERT_TRUE(next);
    EXPECT_EQ(2u, next->body.size());
    EXPECT_EQ(0, site.finished()) << "the answer before it ended only when the origin closed its connection";
    proxy->pool().expire(time->now(), true);
}

TEST_F(proxy_test, AnOriginConnectionServesTheNextRequestAndOneTheOriginClosedIsReplaced) {
    const auto echo = [](const std::string& request) {
        const std::string body = request.substr(0, request.find(' '));
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    origin lasting(echo, origin::then::keep_alive);
    origin closing(echo);
    start();
    for (origin* site : {&lasting, &closing}) {
        for (const char* method : {"GET", "POST", "GET"}) {
            client each(port);
            const std::string body = std::string(method) == "POST" ? "Content-Length: 3\r\n\r\nabc" : "\r\n";
            ASSERT_TRUE(each.send(std::string(method) +
                                  " http://casino.example:" + std::to_string(site->port()) +
                                  "/ HTTP/1.1\r\nHost: casino.example\r\n" + body));
            auto r = each.read();
            ASSERT_TRUE(r) << method << ": " << each.received();
            EXPECT_EQ(method, r->body);
        }
    }
    EXPECT_EQ(2, lasting.accepted())
        << "a request without a body takes the connection that the last one left; "
           "one with a body, which could not be sent again, a new one";
    EXPECT_EQ(3u, lasting.requests().size());
    EXPECT_EQ(3, closing.accepted()) << "a connection the origin closed is not used again";

    // An origin that drops its kept connection when the next request comes on it: the request goes again.
    std::atomic<int> asked{0};
    origin dropping([&](const std::string& request) { return ++asked == 2 ? std::string() : echo(request); },
                    origin::then::keep_alive);
    for (int i = 0; i < 2; ++i) {
        client each(port);
        ASSERT_TRUE(each.send(get("casino.example", dropping.port(), "/")));
        auto r = each.read();
        ASSERT_TRUE(r) << each.received();
        EXPECT_EQ(200, r->status) << r->body;
    }
    EXPECT_EQ(2, dropping.accepted());
    EXPECT_EQ(3u, dropping.requests().size());
    EXPECT_TRUE(eventually([&] { return proxy->pool().idle() == 3; })) << proxy->pool().idle();
    proxy->pool().expire(time->now(), true);
}

TEST_F(proxy_test, TwoThousandClientsAtOnceAreServedAndLeaveNothingBehind) {
    constexpr std::size_t clients = 2000;
    rlimit limit{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &limit));
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 16384);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &limit));
    ASSERT_GE(limit.rlim_cur, rlim_t{4 * clients + 200}) << "too few descriptors allowed";
    origin site(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"); });
    site.forget_requests();
    start();
    const std::size_t descriptors = open_descriptors();
    // Every client at once, then each answer read; the first fault seen, if any.
    const auto serve_all = [&] {
        std::vector<std::unique_ptr<client>> open;
        for (std::size_t i = 0; i < clients; ++i) {
            open.push_back(std::make_unique<client>(port));
            if (!open.back()->send(get("casino.example", site.port(), "/" + std::to_string(i))))
                return "request " + std::to_string(i) + " could not be sent";
        }
        for (const auto& c : open) {
            const auto asked_at = std::chrono::steady_clock::now();
            auto r = c->read();
            if (!r || r->status != 200 || r->body != "ok")
                return (c->received().empty() ? std::string("nothing") : c->received()) + " after " +
                       std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - asked_at)
                                          .count()) +
                       " ms";
        }
        return std::string();
    };
    // Waits for every connection to go; what is left otherwise.
    const auto left = [&] {
        if (eventually([&] { return server->connections() == 0 && open_descriptors() <= descriptors; }))
            return std::string();
        return std::to_string(server->connections()) + " connections and " +
               std::to_string(open_descriptors()) + " descriptors left, " + std::to_string(descriptors) +
               " before";
    };
    // The first round fills what is kept for good (buffers, the allocator's caches); the second must
    // leave the heap where the first left it.
    ASSERT_EQ("", serve_all());
    ASSERT_EQ("", left());
    // Connections end on the loop threads after their sockets close: the heap is taken once that stops
    // freeing memory, and the second round has as long to come back to it.
    std::size_t heap = heap_in_use();
    int calm = 0;
    eventually([&] {
        calm = heap_in_use() < heap ? 0 : calm + 1;
        heap = std::min(heap, heap_in_use());
        return calm >= 10;
    });
    ASSERT_EQ("", serve_all());
    ASSERT_EQ("", left());
    EXPECT_TRUE(eventually([&] { return heap_in_use() <= heap + std::size_t{512} * 1024; }))
        << "bytes in use: " << heap << " after the first round, " << heap_in_use() << " after the second";
    client after(port);
    ASSERT_TRUE(after.send(get("casino.example", site.port(), "/after")));
    auto r = after.read();
    ASSERT_TRUE(r);
    EXPECT_EQ(200, r->status) << "the proxy keeps serving";
}

TEST_F(proxy_test, ThePolicyDecidesBeforeAnythingGoesToTheOrigin) {
    std::unique_ptr<tav::DataModel> model = load_policy();
    {
        std::unique_ptr<tav::DataModel::ProtocolSettings> https;
        ASSERT_TRUE(model->GetProtocolSettings("3", tav::DataModel::PST_HTTPS, https).IsOK());
        https->SetIsNetworkEnabled(false);
        ASSERT_TRUE(model->SaveProtocolSettings("3", *https).IsOK());
    }
    origin site(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"); });
    start(model.get());
    const struct {
        std::string host;
        std::string path;
        int status;
        const char* reason;
    } cases[] = {
        {"school.example", "/lessons", 200, ""},
        {"games.example", "/", 403, "Site is blocked by Customer Blocked Sites List"},
        {"casino.example", "/poker", 403, ""},
        {"unlisted.example", "/free-poker-tips", 403, "Url you go contains a blocked word"},
    };
    for (const auto& c : cases) {
        client each(port);
        ASSERT_TRUE(each.send(get(c.host, site.port(), c.path)));
        auto r = each.read();
        ASSERT_TRUE(r) << c.host;
        EXPECT_EQ(c.status, r->status) << c.host << ": " << r->body;
        if (c.status == 403) {
            EXPECT_NE(std::string::npos, r->body.find("This page is blocked")) << r->body;
            EXPECT_EQ("no-store", r->fields["cache-control"]);
        }
        if (*c.reason != '\0') {
            EXPECT_NE(std::string::npos, r->body.find(c.reason)) << r->body;
        }
    }
    client secure(port);
    ASSERT_TRUE(secure.send("CONNECT school.example:443 HTTP/1.1\r\nHost: school.example:443\r\n\r\n"));
    auto tunnel = secure.read();
    ASSERT_TRUE(tunnel) << secure.received();
    EXPECT_EQ(403, tunnel->status);
    EXPECT_NE(std::string::npos, tunnel->fields["proxy-status"].find("error=http_request_denied; details=\"" +
                                                                     tunnel->body.substr(0, 10)))
        << tunnel->fields["proxy-status"] << " / " << tunnel->body;

    // A time table that allows nothing now, then a computer that the policy does not know.
    {
        auto group = my_group(*model);
        group->SetTimeTable(std::string(336, '0'));
        group->SetIsTimeTableEnabled(true);
        ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
    }
    const auto refusal = [&](const std::string& path) {
        client each(port);
        EXPECT_TRUE(each.send(get("school.example", site.port(), path)));
        auto r = each.read();
        return r ? std::to_string(r->status) + " " + r->body : std::string("no answer");
    };
    const std::string known = refusal("/lessons");
    EXPECT_NE(std::string::npos, known.find("You are prohibited to access the internet at this time"));
    EXPECT_EQ(std::string::npos, known.find("?client=")) << "a known computer has nothing to add";
    ASSERT_TRUE(model->DeleteClients({"127.0.0.1"}).IsOK());
    // The page's placeholders are filled from the policy, never from the text of the address.
    const std::string unknown = refusal("/lessons{{HELP}}{{REASON}}");
    EXPECT_NE(std::string::npos, unknown.find("Unknown client"));
    EXPECT_NE(std::string::npos, unknown.find("/lessons{{HELP}}{{REASON}}")) << unknown;
    EXPECT_EQ(unknown.find("is in no group"), unknown.rfind("is in no group")) << unknown;
    EXPECT_NE(std::string::npos,
              unknown.find("This computer, 127.0.0.1, is in no group of the filter yet. <a "
                           "href=\"http://admin.tollwick/?client=127.0.0.1\">"))
        << unknown;
    EXPECT_EQ(1u, site.requests().size()) << "refused requests never reach the origin";
    server->stop();
    const std::string log = read("log/access/log.txt");
    EXPECT_NE(std::string::npos, log.find("\t403\t")) << log;
    EXPECT_NE(std::string::npos, log.find("\trefused\tSite_is_blocked_by_Customer_Blocked_Sites_List"))
        << log;
    EXPECT_NE(std::string::npos, log.find("/lessons\t200\t2\t-\tallowed\t-")) << log;
}

// What a computer did goes into the history: its use of the sites it was let through to, and each refused
// request and tunnel with the policy's reason.
TEST_F(proxy_test, WhatAComputerDidGoesIntoItsHistory) {
    std::unique_ptr<tav::DataModel> model = load_policy();
    tav::ActivityLog history(tav::ActivityLog::Options{});
    origin site(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"); });
    start(model.get(), false, &history);
    for (const char* host : {"School.example", "games.example"}) {
        client each(port);
        ASSERT_TRUE(each.send(get(host, site.port(), "/lessons?day=1")));
        ASSERT_TRUE(each.read()) << host;
    }
    client secure(port);
    ASSERT_TRUE(secure.send("CONNECT games.example:443 HTTP/1.1\r\nHost: games.example:443\r\n\r\n"));
    ASSERT_TRUE(secure.read());
    ASSERT_TRUE(eventually([&] { return server->connections() == 0; })) << server->connections();
    server->stop();
    proxy->stop();
    history.Flush();

    tav::ActivityHistory read(history.GetPath());
    const std::string today = tav::ActivityHistory::DayOf(static_cast<std::time_t>(model->GetClock().Now()));
    const auto uses = read.SiteUseByDay(today, today, {});
    ASSERT_EQ(1u, uses.size());
    EXPECT_EQ("school.example", uses[0].site);
    EXPECT_EQ("127.0.0.1", uses[0].client);
    EXPECT_EQ("3", uses[0].group);
    EXPECT_EQ(1, uses[0].minutes);
    EXPECT_EQ(5, uses[0].bytes) << "the answer's body";
    const auto refusals = read.Refusals(today, today, {}, 10);
    ASSERT_EQ(2u, refusals.size());
    EXPECT_EQ("https", refusals[0].protocol);
    EXPECT_EQ("", refusals[0].path);
    EXPECT_EQ("http", refusals[1].protocol);
    EXPECT_EQ("/lessons", refusals[1].path);
    for (const auto& refusal : refusals) {
        EXPECT_EQ("games.example", refusal.host);
        EXPECT_EQ("3", refusal.group);
        EXPECT_EQ("Site is blocked by Customer Blocked Sites List", refusal.reason);
    }
}

// A child may spell an address in many ways; each is decided as its canonical form, by the policy check and
// through the proxy alike, and the origin is asked for exactly the form that was decided.
TEST_F(proxy_test, EverySpellingOfAnAddressIsDecidedAndSentInItsCanonicalForm) {
    tav::urlfilter::URLGraphBuilder sites;
    sites.Add("pharmacy.example", "", true, 1u << 7); // drugs
    policy.WriteDatabase(sites);
    std::unique_ptr<tav::DataModel> model = load_policy();
    auto trusted = model->CreateCustomerSite(false);
    trusted->SetUrl("http://pharmacy.example/first-aid");
    ASSERT_TRUE(model->SaveCustomerSite("3", *trusted).IsOK());
    origin site(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"); });
    start(model.get());
    const std::string on = ":" + std::to_string(site.port());
    // The policy's verdict for this machine, as the policy check gives it.
    const auto check = [&model](const std::string& url, std::string& verdict) {
        tav::uri address;
        address.parse_absolute(url.data(), url.data() + url.size());
        const bool allowed = model->IsAllowed("127.0.0.1", address, tav::PROTO_HTTP, verdict);
        verdict = (allowed ? "allowed " : "refused ") + verdict;
        return allowed;
    };
    const struct {
        std::string written;
        std::string canonical;
        const char* asked; // the origin's request line, or null for a refusal
    } cases[] = {
        {"http://school.example" + on + "/Lessons/./a/../%62", "http://school.example" + on + "/Lessons/b",
         "GET /Lessons/b HTTP/1.1"},
        {"http://SCHOOL.example." + on + "//x//%2Fy%2a?q=%41",
         "http://school.example" + on + "//x//%2Fy%2A?q=%41", "GET //x//%2Fy%2A?q=%41 HTTP/1.1"},
        {"http://pharmacy.example" + on + "/first-aid/kit", "http://pharmacy.example" + on + "/first-aid/kit",
         "GET /first-aid/kit HTTP/1.1"},
        {"http://pharmacy.example" + on + "/first-aid/../shop", "http://pharmacy.example" + on + "/shop",
         nullptr},
        {"http://pharmacy.example" + on + "/first-aid/%2e%2E/shop", "http://pharmacy.example" + on + "/shop",
         nullptr},
        {"http://origin.example" + on + "/CASINO", "http://origin.example" + on + "/CASINO", nullptr},
        {"http://origin.example" + on + "/%63asino", "http://origin.example" + on + "/casino", nullptr},
        {"http://origin.example" + on + "/?q=Poker", "http://origin.example" + on + "/?q=Poker", nullptr},
        {"http://origin.example" + on + "/?q=%50oker", "http://origin.example" + on + "/?q=%50oker", nullptr},
        {"http://school.example" + on + "/%252e", "http://school.example" + on + "/%252e",
         "GET /%252e HTTP/1.1"},
        {"http://casino.example.." + on + "/", "http://casino.example" + on + "/", nullptr},
        {"http://games.example./", "http://games.example/", nullptr},
        {"http://2130706433" + on + "/", "http://127.0.0.1" + on + "/", nullptr},
        {"http://0x7f.1" + on + "/", "http://127.0.0.1" + on + "/", nullptr},
        {"http://127.1" + on + "/", "http://127.0.0.1" + on + "/", nullptr},
        {"http://0" + on + "/", "http://0.0.0.0" + on + "/", nullptr},
    };
    for (const auto& c : cases) {
        std::string written;
        std::string canonical;
        EXPECT_EQ(check(c.written, written), c.asked != nullptr) << c.written << ": " << written;
        check(c.canonical, canonical);
        EXPECT_EQ(written, canonical) << c.written;

        const std::size_t before = site.requests().size();
        client each(port);
        ASSERT_TRUE(each.send("GET " + c.written + " HTTP/1.1\r\nHost: x\r\n\r\n"));
        auto r = each.read();
        ASSERT_TRUE(r) << c.written;
        EXPECT_EQ(c.asked != nullptr ? 200 : 403, r->status) << c.written << ": " << r->body;
        const auto asked = site.requests();
        if (c.asked != nullptr && asked.size() == before + 1)
            EXPECT_EQ(asked.back().substr(0, asked.back().find("\r\n")), c.asked) << c.written;
        else
            EXPECT_EQ(asked.size(), before + (c.asked != nullptr ? 1 : 0)) << c.written;
    }
    for (const char* target : {"2130706433:443", "0x7f.1:443", "127.1:443"}) {
        client secure(port);
        ASSERT_TRUE(secure.send(std::string("CONNECT ") + target + " HTTP/1.1\r\nHost: x\r\n\r\n"));
        auto r = secure.read();
        ASSERT_TRUE(r) << target;
        EXPECT_EQ(403, r->status) << target;
        EXPECT_NE(std::string::npos, r->body.find("ip addresses")) << target << ": " << r->body;
    }
    // A secure site is decided by the same site rules as a plain one.
    client secure(port);
    ASSERT_TRUE(secure.send("CONNECT PHARMACY.example.:443 HTTP/1.1\r\nHost: x\r\n\r\n"));
    auto refused = secure.read();
    ASSERT_TRUE(refused) << secure.received();
    EXPECT_EQ(403, refused->status);
    EXPECT_NE(std::string::npos, refused->body.find("'Drugs' category")) << refused->body;
}

// The filter machine's own services, and the metadata service of a cloud machine, are nobody's to reach
// through the filter.
TEST_F(proxy_test, TheFilterMachineItselfAndLinkLocalAddressesAreNotRelayedTo) {
    origin site(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"); });
    proxy_options.allow_local = false;
    proxy_options.connect_ports = {site.port()};
    start();
    const std::string here = "127.0.0.1:" + std::to_string(site.port());
    for (const std::string& request :
         {get("127.0.0.1", site.port(), "/"), get("casino.example", site.port(), "/"),
          get("169.254.169.254", 80, "/latest/meta-data/"),
          "CONNECT " + here + " HTTP/1.1\r\nHost: " + here + "\r\n\r\n"}) {
        client c(port);
        ASSERT_TRUE(c.send(request));
        auto refused = c.read();
        ASSERT_TRUE(refused) << request;
        EXPECT_EQ(403, refused->status) << request;
        EXPECT_NE(std::string::npos, refused->body.find("does not lead to the machine it runs on"))
            << request;
    }
    EXPECT_TRUE(site.requests().empty());
}

TEST_F(proxy_test, ATunnelCarriesBytesBothWaysToAllowedPortsOnly) {
    origin site(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecret"); });
    proxy_options.connect_ports = {site.port()};
    proxy_options.opaque_ports = {site.port()}; // plain HTTP through the tunnel
    start();
    const std::string target = "casino.example:" + std::to_string(site.port());
    client c(port);
    ASSERT_TRUE(c.send("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n"));
    auto opened = c.read(true);
    ASSERT_TRUE(opened) << c.received();
    EXPECT_EQ(200, opened->status);
    EXPECT_FALSE(opened->has("content-length") || opened->has("transfer-encoding"));
    const std::string inside = "GET /inside HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_TRUE(c.send(inside));
    auto answer = c.read();
    ASSERT_TRUE(answer) << c.received();
    EXPECT_EQ("secret", answer->body);
    EXPECT_TRUE(c.closed_by_server()) << "the tunnel ends with the origin's connection";
    ASSERT_EQ(1u, site.requests().size());
    EXPECT_EQ(inside, site.requests()[0]) << "the bytes pass unchanged";

    client elsewhere(port);
    ASSERT_TRUE(elsewhere.send("CONNECT casino.example:25 HTTP/1.1\r\nHost: casino.example:25\r\n\r\n"));
    auto refused = elsewhere.read();
    ASSERT_TRUE(refused);
    EXPECT_EQ(403, refused->status);
    EXPECT_NE(std::string::npos, refused->fields["proxy-status"].find("http_request_denied"));
    EXPECT_TRUE(elsewhere.closed_by_server());
    // The service stops while the client still holds its side of the tunnel that the origin ended: the
    // tunnel ends with its client's connection and lets go of the origin's (a leak otherwise).
    server->stop();
}

TEST_F(proxy_test, AnswersAreCheckedForTheirTypeAndWordsAndAQuotaEndsAccess) {
    std::unique_ptr<tav::DataModel> model = load_policy();
    {
        auto group = my_group(*model);
        auto http = boost::static_pointer_cast<tav::DataModel::HTTPProtocolSettings>(
            group->GetProtocolSettings(tav::DataModel::PST_HTTP));
        http->SetIsContentFiltrationEnabled(true);
        http->SetIsContentTypesEnabled(true);
        http->SetIsInapContentWordsEnabled(true);
        for (const char* text : {"poker", "\xEF\xE8\xE2\xEE"}) { // and "пиво" in the policy's windows-1251
            auto word = model->CreateInapContentWord();
            word->SetWord(text);
            ASSERT_TRUE(model->SaveInapContentWord("3", *word).IsOK());
        }
    }
    const std::string page = "<html><body>Play poker now</body></html>";
    const std::string gzip = deflate_text::pack(page, 15 + 16);
    origin site([&](const std::string& request) {
        const auto answer = [](const std::string& type, const std::string& fields, const std::string& body) {
            return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n" + fields +
                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        };
        if (request.find("/program") != std::string::npos)
            return answer("application/x-msdownload", "", "MZ");
        if (request.find("/PROGRAM") != std::string::npos)
            return answer("Application/X-MSDownload", "", "MZ");
        if (request.find("/untyped") != std::string::npos)
            return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page;
        if (request.find("/xhtml") != std::string::npos)
            return answer("application/xhtml+xml", "", page);
        if (request.find("/two-types") != std::string::npos)
            return answer("text/html", "Content-Type: text/plain\r\n", page);
        if (request.find("/capitals") != std::string::npos)
            return answer("text/html", "", "<p>PLAY POKER</p>");
        if (request.find("/cyrillic") != std::string::npos) // "ПИВО" in UTF-8
            return answer("text/html", "", "<meta charset=\"utf-8\"><p>\xD0\x9F\xD0\x98\xD0\x92\xD0\x9E</p>");
        if (request.find("/members") != std::string::npos)
            return answer("text/html", "Content-Encoding: gzip\r\n",
                          deflate_text::pack("<p>clean</p>", 15 + 16) + gzip);
        if (request.find("/cut-short") != std::string::npos)
            return answer("text/html", "Content-Encoding: gzip\r\n", gzip.substr(0, gzip.size() - 8));
        if (request.find("/garbage") != std::string::npos)
            return answer("text/html", "Content-Encoding: gzip\r\n", std::string(40, 'g'));
        if (request.find("/packed") != std::string::npos)
            return answer("text/html", "Content-Encoding: gzip\r\n", deflate_text::pack(page, 15 + 16));
        if (request.find("/words") != std::string::npos)
            return answer("text/html; charset=utf-8", "", page);
        if (request.find("/big") != std::string::npos)
            return answer("text/plain", "", std::string(std::size_t{1536} * 1024, 'b'));
        return answer("text/html", "", "<p>homework</p>");
    });
    start(model.get());
    const struct {
        const char* path;
        int status;
        const char* reason;
    } cases[] = {
        {"/program", 403, "application/x-msdownload"},
        {"/PROGRAM", 403, "Application/X-MSDownload"},
        {"/words", 403, "words that are not allowed"},
        {"/packed", 403, "words that are not allowed"},
        {"/untyped", 403, "words that are not allowed"},
        {"/xhtml", 403, "words that are not allowed"},
        {"/two-types", 502, "conflicting content types"},
        {"/capitals", 403, "words that are not allowed"},
        {"/cyrillic", 403, "words that are not allowed"},
        {"/members", 403, "words that are not allowed"},
        {"/cut-short", 403, "words that are not allowed"},
        {"/garbage", 403, "cannot be read"},
        {"/clean", 200, "homework"},
    };
    for (const auto& c : cases) {
        client each(port);
        ASSERT_TRUE(each.send(get("school.example", site.port(), c.path, "Accept-Encoding: br\r\n")));
        auto r = each.read();
        ASSERT_TRUE(r) << c.path;
        EXPECT_EQ(c.status, r->status) << c.path << ": " << r->body;
        EXPECT_NE(std::string::npos, r->body.find(c.reason)) << c.path << ": " << r->body;
    }
    // Checked pages are asked for in the codings that the check reads.
    ASSERT_FALSE(site.requests().empty());
    EXPECT_NE(std::string::npos, site.requests().back().find("\r\nAccept-Encoding: gzip, deflate\r\n"))
        << site.requests().back();
    EXPECT_EQ(std::string::npos, site.requests().back().find("br")) << site.requests().back();

    // A download that takes the client over its allowance of 1 MiB a day is the last one it gets.
    {
        auto group = my_group(*model);
        group->SetIsTrafficLimitsEnabled(true);
        for (unsigned day = 0; day < 7; ++day)
            group->SetTrafficLimit(day, 1);
        ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
    }
    client session(port);
    ASSERT_TRUE(session.send(get("school.example", site.port(), "/big")));
    auto first = session.read();
    ASSERT_TRUE(first);
    EXPECT_EQ(200, first->status);
    ASSERT_TRUE(session.send(get("school.example", site.port(), "/clean")));
    auto second = session.read();
    ASSERT_TRUE(second);
    EXPECT_EQ(403, second->status) << "the same connection is refused once the bytes are counted";
    EXPECT_NE(std::string::npos, second->body.find("traffic")) << second->body;
}

// An origin of raw bytes: accepts one connection on a free port of 127.0.0.1 and runs `serve` on it, on a
// thread of its own; its reads give up after ten seconds.
class raw_origin {
public:
    explicit raw_origin(std::function<void(int fd)> serve)
        : listener_(loopback::loopback_socket(true, &port_)), thread_([this, serve = std::move(serve)] {
              pollfd wait{listener_.fd, POLLIN, 0};
              if (::poll(&wait, 1, 10000) <= 0)
                  return;
              loopback::fd_guard fd(::accept(listener_.fd, nullptr, nullptr));
              timeval timeout{10, 0};
              ::setsockopt(fd.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
              serve(fd.fd);
          }) {}
    raw_origin(const raw_origin&) = delete;
    raw_origin& operator=(const raw_origin&) = delete;
    ~raw_origin() { thread_.join(); }
    std::uint16_t port() const { return port_; }

private:
    unsigned short port_ = 0;
    loopback::fd_guard listener_;
    std::thread thread_;
};

bool send_all(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

TEST_F(proxy_test, AClientsHalfCloseGetsItsAnswerAndATunnelPassesEachEndOn) {
    std::atomic<bool> answer{false};
    origin slow([&](const std::string&) {
        eventually([&] { return answer.load(); });
        return std::string("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nlater");
    });
    // Reads the client's bytes to their end, then answers.
    raw_origin answers_after_end([](int fd) { send_all(fd, "after " + loopback::receive(fd, 1 << 20)); });
    // Sends its bytes and ends its side first, then reads the client's to their end.
    std::string read_after_end;
    std::atomic<bool> origin_done{false};
    raw_origin ends_first([&](int fd) {
        send_all(fd, "first");
        ::shutdown(fd, SHUT_WR);
        read_after_end = loopback::receive(fd, 1 << 20);
        origin_done = true;
    });
    proxy_options.connect_ports = {answers_after_end.port(), ends_first.port()};
    proxy_options.opaque_ports = proxy_options.connect_ports;
    start();
    // A tunnel on a socket of its own; the head of the proxy's answer.
    const auto open_tunnel = [&](loopback::fd_guard& c, std::uint16_t to) {
        c.fd = loopback::connect_to(port);
        const std::string target = "casino.example:" + std::to_string(to);
        std::string head;
        if (!send_all(c.fd, "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n"))
            return head;
        for (char byte = 0; head.find("\r\n\r\n") == std::string::npos && ::recv(c.fd, &byte, 1, 0) == 1;)
            head += byte;
        return head;
    };

    // A relayed request whose client ends its side at once.
    {
        loopback::fd_guard c(loopback::connect_to(port));
        ASSERT_TRUE(send_all(c.fd, get("casino.example", slow.port(), "/slow")));
        ASSERT_EQ(0, ::shutdown(c.fd, SHUT_WR));
        ASSERT_TRUE(eventually([&] { return slow.requests().size() == 1; }));
        pollfd quiet{c.fd, POLLIN, 0};
        EXPECT_EQ(0, ::poll(&quiet, 1, 200))
            << "nothing comes, not even the end, while the answer is on its way";
        answer = true;
        const std::string got = loopback::receive(c.fd, 1 << 20);
        EXPECT_EQ(0u, got.rfind("HTTP/1.1 200 OK\r\n", 0)) << got;
        EXPECT_EQ(got.size() - 9, got.find("\r\n\r\nlater")) << got;
    }
    // The client ends first: the origin reads the end after the client's bytes, and its answer still comes.
    {
        loopback::fd_guard c;
        const std::string head = open_tunnel(c, answers_after_end.port());
        ASSERT_EQ(0u, head.rfind("HTTP/1.1 200 ", 0)) << head;
        ASSERT_TRUE(send_all(c.fd, "ping"));
        ASSERT_EQ(0, ::shutdown(c.fd, SHUT_WR));
        EXPECT_EQ("after ping", loopback::receive(c.fd, 1 << 20));
    }
    // The origin ends first: the client reads the end after the origin's bytes, and its own still go.
    {
        loopback::fd_guard c;
        const std::string head = open_tunnel(c, ends_first.port());
        ASSERT_EQ(0u, head.rfind("HTTP/1.1 200 ", 0)) << head;
        EXPECT_EQ("first", loopback::receive(c.fd, 1 << 20));
        ASSERT_TRUE(send_all(c.fd, "more"));
        ASSERT_EQ(0, ::shutdown(c.fd, SHUT_WR));
        ASSERT_TRUE(eventually([&] { return origin_done.load(); }));
        EXPECT_EQ("more", read_after_end);
    }
    EXPECT_TRUE(eventually([&] { return server->connections() == 0; })) << server->connections();
}

// An origin that echoes what each connection sends, on a free port of 127.0.0.1, and counts the bytes each
// connection brought, in the order they came.
class echo_origin {
public:
    echo_origin() : listener_(loopback::loopback_socket(true, &port_)) {
        accepting_ = std::thread([this] {
            for (pollfd wait{listener_.fd, POLLIN, 0}; !stop_;) {
                if (::poll(&wait, 1, 50) <= 0)
                    continue;
                const int fd = ::accept(listener_.fd, nullptr, nullptr);
                const std::lock_guard<std::mutex> lock(mutex_);
                const std::size_t index = received_.size();
                received_.push_back(0);
                serving_.emplace_back([this, fd, index] { echo(fd, index); });
            }
        });
    }
    echo_origin(const echo_origin&) = delete;
    echo_origin& operator=(const echo_origin&) = delete;
    ~echo_origin() {
        stop_ = true;
        accepting_.join();
        for (auto& each : serving_)
            each.join();
    }
    std::uint16_t port() const { return port_; }
    // The bytes of each connection so far, and how many have ended.
    std::vector<std::size_t> received() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    std::size_t ended() const { return ended_; }

private:
    void echo(int fd, std::size_t index) {
        loopback::fd_guard guard(fd);
        timeval timeout{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char buffer[4096];
        for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                received_[index] += static_cast<std::size_t>(got);
            }
            send_all(fd, std::string(buffer, static_cast<std::size_t>(got)));
        }
        ++ended_;
    }

    unsigned short port_ = 0;
    loopback::fd_guard listener_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> ended_{0};
    mutable std::mutex mutex_;
    std::vector<std::size_t> received_;
    std::vector<std::thread> serving_;
    std::thread accepting_;
};

// A tunnel is a way to a site only when the client's TLS handshake names that site, or another that the
// policy allows: a child must not reach a blocked site under an allowed name, nor carry anything else.
TEST_F(proxy_test, ATunnelRelaysOnlyATlsHandshakeWhoseServerNameIsAllowed) {
    using tls_hello::hello;
    using tls_hello::server_name;
    std::unique_ptr<tav::DataModel> model = load_policy();
    echo_origin site;
    proxy_options.connect_ports = {site.port()};
    proxy_options.handshake_timeout = std::chrono::seconds(1);
    start(model.get());
    const struct {
        const char* what;
        std::string bytes;
        std::size_t piece;
        const char* refusal; // logged; null when the handshake goes through
    } cases[] = {
        {"the tunnel's own name, a byte at a time", hello(server_name("SCHOOL.example.")), 1, nullptr},
        {"no name", hello(""), 64, nullptr},
        {"chromium's, another allowed name", tls_hello::seed("chromium"), 1000, nullptr},
        {"a blocked name, a byte at a time", hello(server_name("games.example")), 1,
         "refused\tserver_name_games.example:_Site_is_blocked_by_Customer_Blocked_Sites_List"},
        {"SSH", "SSH-2.0-OpenSSH_9.2\r\n", 64, "refused\tnot_TLS"},
        {"a name that no host has", hello(server_name("a b")), 64,
         "refused\tThe_TLS_handshake_is_malformed."},
        {"a handshake that stops halfway", hello(server_name("school.example")).substr(0, 20), 64,
         "refused\tThe_TLS_handshake_did_not_come_in_time."},
    };
    const std::string target = "school.example:" + std::to_string(site.port());
    for (const auto& c : cases) {
        loopback::fd_guard tunnel(loopback::connect_to(port));
        ASSERT_TRUE(send_all(tunnel.fd, "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n"));
        std::string head;
        for (char byte = 0;
             head.find("\r\n\r\n") == std::string::npos && ::recv(tunnel.fd, &byte, 1, 0) == 1;)
            head += byte;
        ASSERT_EQ(0u, head.rfind("HTTP/1.1 200 ", 0)) << c.what << ": " << head;
        for (std::size_t at = 0; at < c.bytes.size(); at += c.piece)
            ASSERT_TRUE(send_all(tunnel.fd, c.bytes.substr(at, c.piece))) << c.what;
        if (c.refusal == nullptr) {
            EXPECT_EQ(c.bytes, loopback::receive(tunnel.fd, c.bytes.size())) << c.what;
        } else {
            if (std::string(c.refusal).find("in_time") != std::string::npos) {
                EXPECT_TRUE(time_passes_until(proxy_options.handshake_timeout, 3,
                                              [&] { return readable(tunnel.fd, 100); }))
                    << c.what << ": the handshake's time has passed";
            }
            EXPECT_EQ("", loopback::receive(tunnel.fd, 1)) << c.what << ": the connection closes";
        }
    }
    ASSERT_TRUE(eventually([&] { return site.ended() == std::size(cases); })) << site.ended();
    const std::vector<std::size_t> received = site.received();
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].refusal == nullptr ? cases[i].bytes.size() : 0u, received[i])
            << cases[i].what << ": what reaches the site";
    EXPECT_TRUE(eventually([&] { return server->connections() == 0; })) << server->connections();
    server->stop();
    const std::string log = read("log/access/log.txt");
    for (const auto& c : cases) {
        if (c.refusal != nullptr) {
            EXPECT_NE(std::string::npos, log.find(c.refusal)) << c.what << "\n" << log;
        }
    }
}

// A computer without a proxy setting still goes through the gateway, whose firewall redirects its connections
// to the service: each is decided by the name it asks for and goes only to where it was sent.
TEST_F(proxy_test, ARedirectedConnectionIsDecidedByItsNameAndGoesOnlyWhereItWasSent) {
    using tls_hello::hello;
    using tls_hello::server_name;
    std::unique_ptr<tav::DataModel> model = load_policy();
    {
        auto group = my_group(*model);
        group->GetProtocolSettings(tav::DataModel::PST_HTTPS)->SetCanAccessByIP(false);
        ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
    }
    origin web(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"); });
    echo_origin secure;
    start(model.get(), true);
    const std::uint16_t gateway = server->intercept_address().get_port_number();
    const std::string allowed_hello = hello(server_name("school.example"));
    const struct {
        const char* what;
        std::uint16_t to;
        std::string bytes;
        std::string answer; // how what comes back begins; empty for nothing
    } cases[] = {
        {"an allowed page", web.port(), "GET /lessons HTTP/1.1\r\nHost: School.example.\r\n\r\n",
         "HTTP/1.1 200 "},
        {"a blocked page", web.port(), "GET / HTTP/1.1\r\nHost: games.example\r\n\r\n", "HTTP/1.1 403 "},
        {"a Host that names no site", web.port(), "GET / HTTP/1.1\r\nHost: a@b\r\n\r\n", "HTTP/1.1 400 "},
        {"an allowed secure site", secure.port(), allowed_hello, allowed_hello},
        {"a blocked secure site", secure.port(), hello(server_name("games.example")), ""},
        {"a secure site without a name, at an address", secure.port(), hello(""), ""},
        {"the service itself", gateway, "GET / HTTP/1.1\r\nHost: school.example\r\n\r\n", ""},
    };
    for (const auto& c : cases) {
        destination = c.to;
        loopback::fd_guard redirected(loopback::connect_to(gateway));
        ASSERT_TRUE(send_all(redirected.fd, c.bytes));
        ::shutdown(redirected.fd, SHUT_WR);
        const std::string got = loopback::receive(redirected.fd, 1 << 20);
        EXPECT_EQ(c.answer, got.substr(0, c.answer.size())) << c.what << ": " << got;
        if (c.answer.empty()) {
            EXPECT_EQ("", got) << c.what;
        }
    }
    const auto start_time = std::chrono::steady_clock::now();
    destination = web.port();
    loopback::fd_guard silent(loopback::connect_to(gateway));
    // The server's timer looks at the connection each second.
    EXPECT_TRUE(time_passes_until(std::chrono::seconds(1), 3, [&] { return readable(silent.fd, 100); }))
        << "a connection that sends nothing is closed after the handshake timeout";
    EXPECT_EQ("", loopback::receive(silent.fd, 1));
    EXPECT_LT(std::chrono::steady_clock::now() - start_time, std::chrono::seconds(4))
        << "a connection that sends nothing is closed after the handshake timeout";

    ASSERT_EQ(1u, web.requests().size());
    EXPECT_EQ(0u, web.requests()[0].rfind("GET /lessons HTTP/1.1\r\nHost: school.example\r\n", 0))
        << web.requests()[0];
    EXPECT_TRUE(eventually([&] { return secure.ended() == 1; })) << "refused names are never connected";
    EXPECT_EQ(std::vector<std::size_t>{allowed_hello.size()}, secure.received());
    EXPECT_TRUE(eventually([&] { return server->connections() == 0; })) << server->connections();
    server->stop();
    const std::string log = read("log/access/log.txt");
    for (const std::string& logged :
         {std::string("http://school.example/lessons\t200"),
          "https://school.example:" + std::to_string(secure.port()) + "/\t200",
          std::string("server_name_games.example:_Site_is_blocked"), std::string("server_name_127.0.0.1:_")})
        EXPECT_NE(std::string::npos, log.find(logged)) << logged << "\n" << log;
}

// A group's safe search and YouTube restriction send its searches to the sites' safe addresses, found like
// any other name (here in the hosts file; the sites' own names resolve nowhere), without decrypting anything:
// a tunnel is connected there under the site's name, and a plain request goes there with the site's
// parameter or the YouTube-Restrict field, under its own Host.
TEST_F(proxy_test, SafeSearchSendsSearchesAndYouTubeToTheSafeAddresses) {
    std::unique_ptr<tav::DataModel> model = load_policy();
    restrict_searches(*model, 2, 1);
    echo_origin secure;
    origin web(
        [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"); });
    proxy_options.connect_ports = {secure.port()};
    start(model.get());
    const std::string search = "www.google.com:" + std::to_string(secure.port());
    const std::string hello = tls_hello::hello(tls_hello::server_name("www.google.com"));
    // The status of the tunnel's answer, and what comes back through an open one until its end.
    const auto tunnel_to_search = [&] {
        loopback::fd_guard c(loopback::connect_to(port));
        send_all(c.fd, "CONNECT " + search + " HTTP/1.1\r\nHost: " + search + "\r\n\r\n");
        std::string head;
        for (char byte = 0; head.find("\r\n\r\n") == std::string::npos && ::recv(c.fd, &byte, 1, 0) == 1;)
            head += byte;
        const std::string status = head.substr(0, 13);
        if (status != "HTTP/1.1 200 ")
            return status;
        send_all(c.fd, hello);
        ::shutdown(c.fd, SHUT_WR);
        return status + loopback::receive(c.fd, 1 << 20);
    };
    EXPECT_EQ("HTTP/1.1 200 " + hello, tunnel_to_search());

    const std::string on = ":" + std::to_string(web.port());
    const struct {
        std::string host;
        std::string path;
        std::string fields;
        std::string asked;   // how the origin's request begins
        std::string youtube; // its YouTube-Restrict field, if any
    } cases[] = {
        {"www.bing.com", "/search?q=cats&adlt=off", "",
         "GET /search?q=cats&adlt=strict HTTP/1.1\r\nHost: www.bing.com" + on + "\r\n", ""},
        {"WWW.Google.co.uk", "/search?q=x", "",
         "GET /search?q=x&safe=active HTTP/1.1\r\nHost: www.google.co.uk" + on + "\r\n", ""},
        {"www.youtube.com", "/watch?v=1", "YouTube-Restrict: Off\r\n",
         "GET /watch?v=1 HTTP/1.1\r\nHost: www.youtube.com" + on + "\r\n", "YouTube-Restrict: Moderate\r\n"},
        {"school.example", "/?safe=off", "", "GET /?safe=off HTTP/1.1\r\nHost: school.example" + on + "\r\n",
         ""},
    };
    for (const auto& c : cases) {
        client each(port);
        ASSERT_TRUE(each.send(get(c.host, web.port(), c.path, c.fields)));
        auto r = each.read();
        ASSERT_TRUE(r) << c.host;
        EXPECT_EQ(200, r->status) << c.host << ": " << r->body;
        const std::string asked = web.requests().empty() ? "" : web.requests().back();
        EXPECT_EQ(0u, asked.rfind(c.asked, 0)) << asked;
        const std::size_t field = asked.find("\r\nYouTube-Restrict:");
        EXPECT_EQ(c.youtube.empty() ? std::string::npos : asked.find("\r\n" + c.youtube), field) << asked;
        EXPECT_EQ(asked.rfind("\r\nYouTube-Restrict:"), field) << "one field at most: " << asked;
    }

    // Switched off, the site's own name is used: it resolves nowhere here.
    restrict_searches(*model, 0, 0);
    EXPECT_EQ("HTTP/1.1 502 ", tunnel_to_search());
    EXPECT_EQ(std::vector<std::size_t>{hello.size()}, secure.received());
    EXPECT_EQ(std::size(cases), web.requests().size());
    EXPECT_TRUE(eventually([&] { return server->connections() == 0; })) << server->connections();
    server->stop();
    const std::string log = read("log/access/log.txt");
    for (const char* logged :
         {"\tallowed\tsafe:forcesafesearch.google.com", "\tallowed\tsafe:strict.bing.com",
          "\tallowed\tsafe:restrictmoderate.youtube.com"})
        EXPECT_NE(std::string::npos, log.find(logged)) << logged << "\n" << log;
}

// A connection that the gateway redirected goes, by its TLS server name, to the search site's safe address,
// resolved by name, rather than to the address it was sent to.
TEST_F(proxy_test, ARedirectedSearchGoesToTheSafeAddressByItsServerName) {
    std::unique_ptr<tav::DataModel> model = load_policy();
    echo_origin sent_to;
    echo_origin safe;
    names = std::make_shared<name_resolver>(
        hosts.Root() + "/hosts",
        [to = safe.port()](const std::string& host, unsigned short, ACE_INET_Addr& address) {
            if (host != "safe.duckduckgo.com" || address.set(to, "127.0.0.1") != 0)
                return "no such name " + host;
            return std::string();
        });
    start(model.get(), true);
    destination = sent_to.port();
    const struct {
        int level;
        const char* name;
        bool safe; // whether it reaches the safe address
    } cases[] = {
        {1, "duckduckgo.com", true},
        {1, "school.example", false},
        {0, "duckduckgo.com", false},
    };
    std::size_t to_safe = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        restrict_searches(*model, c.level, 0);
        const std::string hello = tls_hello::hello(tls_hello::server_name(c.name));
        loopback::fd_guard redirected(loopback::connect_to(server->intercept_address().get_port_number()));
        ASSERT_TRUE(send_all(redirected.fd, hello));
        ::shutdown(redirected.fd, SHUT_WR);
        EXPECT_EQ(hello, loopback::receive(redirected.fd, 1 << 20)) << c.name;
        to_safe += c.safe ? 1 : 0;
        EXPECT_TRUE(eventually([&] { return safe.ended() + sent_to.ended() == i + 1; }));
        EXPECT_EQ(to_safe, safe.received().size()) << c.name << " at level " << c.level;
    }
}

} // namespace
