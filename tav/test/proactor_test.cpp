#include <tav/aio_cmd.hpp>

#include <support/loopback.hpp>

#include <ace/Asynch_IO.h>
#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>
#include <ace/POSIX_Asynch_IO.h>
#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace loopback;

// What a handler saw of one completion.
struct event {
    std::string kind;
    size_t bytes;
    int success;
    unsigned long error;
    ACE_HANDLE handle;
    std::thread::id thread;
};

// Records every completion it receives.
class recorder : public ACE_Handler {
public:
    explicit recorder(ACE_Proactor* proactor) : ACE_Handler(proactor) {}

    void handle_read_stream(const ACE_Asynch_Read_Stream::Result& r) override {
        add({"read", r.bytes_transferred(), r.success(), r.error(), r.handle(), std::this_thread::get_id()});
    }
    void handle_write_stream(const ACE_Asynch_Write_Stream::Result& r) override {
        add({"write", r.bytes_transferred(), r.success(), r.error(), r.handle(), std::this_thread::get_id()});
    }
    void handle_accept(const ACE_Asynch_Accept::Result& r) override {
        add({"accept", r.bytes_transferred(), r.success(), r.error(), r.accept_handle(),
             std::this_thread::get_id()});
    }
    void handle_connect(const ACE_Asynch_Connect::Result& r) override {
        add({"connect", r.bytes_transferred(), r.success(), r.error(), r.connect_handle(),
             std::this_thread::get_id()});
    }

    void add(const event& e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(e);
    }
    size_t count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }
    std::vector<event> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<event> events_;
};

std::atomic<int> destroyed{0};

// A result posted into the proactor; it runs a function on delivery and counts its destruction.
class posted_result : public ACE_POSIX_Asynch_Result {
public:
    posted_result(ACE_Handler& handler, std::function<void()> on_complete)
        : ACE_Asynch_Result_Impl(),
          ACE_POSIX_Asynch_Result(handler.proxy(), nullptr, ACE_INVALID_HANDLE, 0, 0, 0, 0),
          on_complete_(std::move(on_complete)) {}
    ~posted_result() override { ++destroyed; }

    void complete(size_t, int, const void*, u_long) override { on_complete_(); }

private:
    std::function<void()> on_complete_;
};

class proactor_test : public ::testing::Test {
protected:
    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(1)};
    recorder handler{proactor.get()};

    // Runs the event loop on this thread until `done` holds; false after five seconds without it.
    bool run_until(const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            ACE_Time_Value wait(0, 50000);
            if (proactor->handle_events(wait) < 0)
                return false;
        }
        return true;
    }
    bool run_until_count(size_t n) {
        return run_until([&] { return handler.count() >= n; });
    }
    bool post(std::function<void()> on_complete) {
        auto* r = new posted_result(handler, std::move(on_complete));
        return r->post_completion(proactor->implementation()) == 0;
    }
};

TEST_F(proactor_test, ReadCompletesWithTheBytesThatArrived) {
    ASSERT_NE(nullptr, proactor);
    tcp_pair pair;
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    ASSERT_EQ(5, ::send(pair.b.fd, "hello", 5, 0));
    ASSERT_TRUE(run_until_count(1));
    auto e = handler.events().at(0);
    EXPECT_EQ("read", e.kind);
    EXPECT_EQ(5u, e.bytes);
    EXPECT_EQ(1, e.success);
    EXPECT_EQ(std::string("hello"), std::string(block.rd_ptr(), block.length()));
}

TEST_F(proactor_test, GatherWriteSendsTheWholeChainInOrder) {
    tcp_pair pair;
    ACE_Asynch_Write_Stream writer;
    ASSERT_EQ(0, writer.open(handler, pair.a.fd));
    ACE_Message_Block first(16), second(16), third(16);
    first.copy("one,", 4);
    second.copy("two,", 4);
    third.copy("three", 5);
    first.cont(&second);
    second.cont(&third);
    ASSERT_EQ(0, writer.write(first, 13));
    ASSERT_TRUE(run_until_count(1));
    first.cont(nullptr);
    second.cont(nullptr);
    auto e = handler.events().at(0);
    EXPECT_EQ("write", e.kind);
    EXPECT_EQ(13u, e.bytes);
    EXPECT_EQ(1, e.success);
    EXPECT_EQ(0u, first.length() + second.length() + third.length());
    char buf[32];
    size_t got = 0;
    while (got < 13) {
        ssize_t n = ::recv(pair.b.fd, buf + got, sizeof buf - got, 0);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    EXPECT_EQ(std::string("one,two,three"), std::string(buf, got));
}

TEST_F(proactor_test, LargeWriteContinuesAfterPartialSends) {
    tcp_pair pair;
    int small = 16 * 1024;
    ::setsockopt(pair.a.fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::setsockopt(pair.b.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const size_t size = 4 * 1024 * 1024;
    ACE_Message_Block block(size);
    for (size_t i = 0; i < size; ++i)
        block.wr_ptr()[i] = static_cast<char>(i * 7);
    block.wr_ptr(size);
    std::string received;
    std::thread peer([&] {
        char buf[65536];
        while (received.size() < size) {
            ssize_t n = ::recv(pair.b.fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            received.append(buf, static_cast<size_t>(n));
        }
    });
    ACE_Asynch_Write_Stream writer;
    ASSERT_EQ(0, writer.open(handler, pair.a.fd));
    ASSERT_EQ(0, writer.write(block, size));
    bool done = run_until_count(1);
    peer.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(size, handler.events().at(0).bytes);
    ASSERT_EQ(size, received.size());
    block.rd_ptr(block.base());
    EXPECT_EQ(0, std::memcmp(received.data(), block.rd_ptr(), size));
}

TEST_F(proactor_test, PeerCloseGivesAZeroByteRead) {
    tcp_pair pair;
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    ::close(pair.b.release());
    ASSERT_TRUE(run_until_count(1));
    auto e = handler.events().at(0);
    EXPECT_EQ(0u, e.bytes);
    EXPECT_EQ(1, e.success);
}

// The peer's last bytes and its close arrive together, and the proactor sees their edge while no read waits:
// the short read that takes the bytes must not hide the close from the next read.
TEST_F(proactor_test, CloseBehindTheLastBytesStillEndsTheNextRead) {
    tcp_pair pair;
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    ASSERT_EQ(3, ::send(pair.b.fd, "abc", 3, 0));
    ASSERT_TRUE(run_until_count(1));
    ASSERT_EQ(5, ::send(pair.b.fd, "defgh", 5, 0));
    ::close(pair.b.release());
    ACE_Time_Value no_wait(0);
    ASSERT_LE(0, proactor->handle_events(no_wait));
    block.reset();
    ASSERT_EQ(0, reader.read(block, block.space()));
    ASSERT_TRUE(run_until_count(2));
    EXPECT_EQ(5u, handler.events().at(1).bytes);
    block.reset();
    ASSERT_EQ(0, reader.read(block, block.space()));
    ASSERT_TRUE(run_until_count(3)) << "the close was not reported";
    EXPECT_EQ(0u, handler.events().at(2).bytes);
    EXPECT_EQ(1, handler.events().at(2).success);
}

TEST_F(proactor_test, CancelCompletesThePendingReadWithECANCELED) {
    tcp_pair pair;
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    EXPECT_EQ(0, reader.cancel());
    ASSERT_TRUE(run_until_count(1));
    auto e = handler.events().at(0);
    EXPECT_EQ("read", e.kind);
    EXPECT_EQ(0, e.success);
    EXPECT_EQ(static_cast<unsigned long>(ECANCELED), e.error);
    EXPECT_EQ(1, reader.cancel());
}

// Reads and writes of one socket wait at the same time; cancelling the writer leaves the reader waiting.
TEST_F(proactor_test, CancellingTheWriterLeavesTheReaderPending) {
    tcp_pair pair;
    int small = 16 * 1024;
    ::setsockopt(pair.a.fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::setsockopt(pair.b.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ACE_Asynch_Read_Stream reader;
    ACE_Asynch_Write_Stream writer;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ASSERT_EQ(0, writer.open(handler, pair.a.fd));
    ACE_Message_Block input(64);
    ASSERT_EQ(0, reader.read(input, input.space()));
    const size_t size = 8 * 1024 * 1024;
    ACE_Message_Block output(size);
    std::memset(output.wr_ptr(), 'x', size);
    output.wr_ptr(size);
    ASSERT_EQ(0, writer.write(output, size));
    EXPECT_EQ(0, writer.cancel());
    ASSERT_TRUE(run_until_count(1));
    auto e = handler.events().at(0);
    EXPECT_EQ("write", e.kind);
    EXPECT_EQ(0, e.success);
    EXPECT_EQ(static_cast<unsigned long>(ECANCELED), e.error);
    EXPECT_LT(e.bytes, size);
    EXPECT_EQ(size - e.bytes, output.length());

    ASSERT_EQ(1, ::send(pair.b.fd, "r", 1, 0));
    ASSERT_TRUE(run_until_count(2));
    e = handler.events().at(1);
    EXPECT_EQ("read", e.kind);
    EXPECT_EQ(1u, e.bytes);
}

TEST_F(proactor_test, CancelCompletesAPendingAccept) {
    unsigned short port = 0;
    fd_guard listener(loopback_socket(true, &port));
    ACE_Asynch_Accept acceptor;
    ASSERT_EQ(0, acceptor.open(handler, listener.fd, 0, 0));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, acceptor.accept(block, 0));
    EXPECT_EQ(0, acceptor.cancel());
    ASSERT_TRUE(run_until_count(1));
    auto e = handler.events().at(0);
    EXPECT_EQ("accept", e.kind);
    EXPECT_EQ(static_cast<unsigned long>(ECANCELED), e.error);
    EXPECT_EQ(ACE_INVALID_HANDLE, e.handle);
}

TEST_F(proactor_test, AcceptAndConnectMeetOnLoopback) {
    unsigned short port = 0;
    fd_guard listener(loopback_socket(true, &port));
    ACE_Asynch_Accept acceptor;
    ASSERT_EQ(0, acceptor.open(handler, listener.fd, 0, 0));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, acceptor.accept(block, 0));
    ACE_Asynch_Connect connector;
    ASSERT_EQ(0, connector.open(handler));
    ACE_INET_Addr remote(port, "127.0.0.1");
    ASSERT_EQ(0, connector.connect(ACE_INVALID_HANDLE, remote, ACE_Addr::sap_any, 1));
    ASSERT_TRUE(run_until_count(2));
    fd_guard accepted, connected;
    for (const event& e : handler.events()) {
        EXPECT_EQ(1, e.success) << e.kind;
        (e.kind == "accept" ? accepted : connected).fd = e.handle;
    }
    ASSERT_GE(accepted.fd, 0);
    ASSERT_GE(connected.fd, 0);
    ASSERT_EQ(2, ::send(connected.fd, "hi", 2, 0));
    char buf[2];
    ASSERT_TRUE(run_until([&] { return ::recv(accepted.fd, buf, 2, MSG_DONTWAIT) == 2; }));
}

TEST_F(proactor_test, RefusedConnectReportsTheSystemError) {
    unsigned short port = 0;
    fd_guard bound(loopback_socket(false, &port));
    ACE_Asynch_Connect connector;
    ASSERT_EQ(0, connector.open(handler));
    ACE_INET_Addr remote(port, "127.0.0.1");
    ASSERT_EQ(0, connector.connect(ACE_INVALID_HANDLE, remote, ACE_Addr::sap_any, 1));
    ASSERT_TRUE(run_until_count(1));
    auto e = handler.events().at(0);
    fd_guard connected(e.handle);
    EXPECT_EQ("connect", e.kind);
    EXPECT_EQ(0, e.success);
    EXPECT_EQ(static_cast<unsigned long>(ECONNREFUSED), e.error);
}

TEST_F(proactor_test, PostedResultsShareTheQueueWithIoInOrder) {
    tcp_pair pair;
    ASSERT_EQ(3, ::send(pair.b.fd, "abc", 3, 0));
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ACE_Message_Block block(64);
    // Wait until the bytes are readable, so that the read finishes as soon as it starts.
    char peek;
    ASSERT_EQ(1, ::recv(pair.a.fd, &peek, 1, MSG_PEEK));
    auto me = std::this_thread::get_id();
    ASSERT_TRUE(post([&] {
        handler.add({"first", 0, 1, 0, ACE_INVALID_HANDLE, std::this_thread::get_id()});
    }));
    ASSERT_EQ(0, reader.read(block, block.space()));
    ASSERT_TRUE(post([&] {
        handler.add({"last", 0, 1, 0, ACE_INVALID_HANDLE, std::this_thread::get_id()});
    }));
    ASSERT_TRUE(run_until_count(3));
    auto events = handler.events();
    EXPECT_EQ("first", events[0].kind);
    EXPECT_EQ("read", events[1].kind);
    EXPECT_EQ(3u, events[1].bytes);
    EXPECT_EQ("last", events[2].kind);
    for (const event& e : events)
        EXPECT_EQ(me, e.thread);
}

TEST_F(proactor_test, EachResultIsDestroyedRightAfterItsDelivery) {
    destroyed = 0;
    std::vector<int> destroyed_before;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(post([&] { destroyed_before.push_back(destroyed.load()); }));
    ASSERT_TRUE(run_until([&] { return destroyed.load() == 100; }));
    ASSERT_EQ(100u, destroyed_before.size());
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(i, destroyed_before[static_cast<size_t>(i)]);
}

// Results that keep posting new ones never leave the queue empty; socket I/O must still be noticed.
TEST_F(proactor_test, EndlessPostedResultsDoNotStarveIo) {
    destroyed = 0;
    tcp_pair pair;
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    std::atomic<bool> stop{false};
    std::function<void()> again = [&] {
        if (!stop)
            post(again);
    };
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(post(again));
    ASSERT_EQ(4, ::send(pair.b.fd, "ping", 4, 0));
    EXPECT_TRUE(run_until_count(1));
    stop = true;
    ASSERT_TRUE(run_until([&] { return destroyed.load() >= 1000; }));
}

TEST_F(proactor_test, ClosingDropsPendingOperations) {
    tcp_pair pair;
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    destroyed = 0;
    ASSERT_TRUE(post([] {}));
    proactor.reset();
    EXPECT_EQ(1, destroyed.load());
    EXPECT_EQ(0u, handler.count());
}

// Two threads run the event loop; posted results and an echo over loopback are all delivered.
TEST_F(proactor_test, TwoEventLoopThreadsDeliverEverything) {
    std::vector<std::thread> loops;
    std::mutex mutex;
    std::vector<std::thread::id> ids;
    for (int i = 0; i < 2; ++i)
        loops.emplace_back([&] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                ids.push_back(std::this_thread::get_id());
            }
            proactor->proactor_run_event_loop();
        });
    destroyed = 0;
    std::atomic<int> delivered{0};
    std::mutex done_mutex;
    std::condition_variable done;
    const int posts = 20000;
    auto note = [&] {
        std::lock_guard<std::mutex> lock(done_mutex);
        if (++delivered == posts)
            done.notify_all();
    };
    for (int i = 0; i < posts; ++i)
        ASSERT_TRUE(post(note));

    tcp_pair pair;
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, pair.a.fd));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    ASSERT_EQ(4, ::send(pair.b.fd, "ping", 4, 0));

    bool all = false;
    {
        std::unique_lock<std::mutex> lock(done_mutex);
        all = done.wait_for(lock, 10s, [&] { return delivered == posts; });
    }
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (handler.count() < 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    proactor->proactor_end_event_loop();
    for (std::thread& t : loops)
        t.join();
    EXPECT_TRUE(all);
    ASSERT_EQ(1u, handler.count());
    auto e = handler.events().at(0);
    EXPECT_EQ(4u, e.bytes);
    EXPECT_TRUE(e.thread == ids.at(0) || e.thread == ids.at(1));
    EXPECT_EQ(posts, destroyed.load());
}

// Unlike select, epoll has no limit at descriptor 1024.
TEST_F(proactor_test, DescriptorsAboveTheSelectLimitWork) {
    rlimit limit{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &limit));
    if (limit.rlim_max < 1200)
        GTEST_SKIP() << "descriptor limit " << limit.rlim_max;
    rlimit raised = limit;
    raised.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 1200);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &raised));
    tcp_pair pair;
    fd_guard high(::fcntl(pair.a.fd, F_DUPFD_CLOEXEC, 1100));
    ASSERT_GE(high.fd, 1100);
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, high.fd));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    ASSERT_EQ(4, ::send(pair.b.fd, "high", 4, 0));
    bool done = run_until_count(1);
    ::close(high.release());
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ASSERT_TRUE(done);
    EXPECT_EQ(4u, handler.events().at(0).bytes);
}

// Sends back what it reads until the peer closes.
class echo : public ACE_Handler {
public:
    echo(ACE_Proactor* proactor, int fd, std::atomic<int>& closed) : ACE_Handler(proactor), closed_(closed) {
        ok_ = reader_.open(*this, fd) == 0 && writer_.open(*this, fd) == 0 && reader_.read(block_, 64) == 0;
    }
    bool ok() const { return ok_; }

    void handle_read_stream(const ACE_Asynch_Read_Stream::Result& r) override {
        if (r.bytes_transferred() == 0 || writer_.write(block_, block_.length()) != 0)
            ++closed_;
    }
    void handle_write_stream(const ACE_Asynch_Write_Stream::Result& r) override {
        block_.reset();
        if (!r.success() || reader_.read(block_, 64) != 0)
            ++closed_;
    }

private:
    std::atomic<int>& closed_;
    ACE_Asynch_Read_Stream reader_;
    ACE_Asynch_Write_Stream writer_;
    ACE_Message_Block block_{64};
    bool ok_;
};

TEST_F(proactor_test, TwoEventLoopThreadsEchoManyConnectionsByteExact) {
    const int connections = 20, rounds = 50;
    std::atomic<int> closed{0};
    std::vector<std::unique_ptr<tcp_pair>> pairs;
    std::vector<std::unique_ptr<echo>> echoes;
    for (int i = 0; i < connections; ++i) {
        pairs.push_back(std::make_unique<tcp_pair>());
        echoes.push_back(std::make_unique<echo>(proactor.get(), pairs.back()->a.fd, closed));
        ASSERT_TRUE(echoes.back()->ok());
    }
    std::vector<std::thread> loops;
    for (int i = 0; i < 2; ++i)
        loops.emplace_back([&] { proactor->proactor_run_event_loop(); });
    bool exact = true;
    for (int round = 0; round < rounds && exact; ++round) {
        for (int i = 0; i < connections && exact; ++i) {
            std::string message(64, static_cast<char>('a' + (round + i) % 26));
            exact = ::send(pairs[static_cast<size_t>(i)]->b.fd, message.data(), 64, 0) == 64;
            std::string back;
            char buf[64];
            while (exact && back.size() < 64) {
                ssize_t n = ::recv(pairs[static_cast<size_t>(i)]->b.fd, buf, 64 - back.size(), 0);
                exact = n > 0;
                if (exact)
                    back.append(buf, static_cast<size_t>(n));
            }
            exact = exact && back == message;
        }
    }
    for (auto& pair : pairs)
        ::close(pair->b.release());
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (closed.load() < connections && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    proactor->proactor_end_event_loop();
    for (std::thread& t : loops)
        t.join();
    EXPECT_TRUE(exact);
    EXPECT_EQ(connections, closed.load());
}

TEST_F(proactor_test, ReadOnABadDescriptorCompletesWithTheError) {
    ACE_Asynch_Read_Stream reader;
    ASSERT_EQ(0, reader.open(handler, 100000));
    ACE_Message_Block block(64);
    ASSERT_EQ(0, reader.read(block, block.space()));
    ASSERT_TRUE(run_until_count(1));
    auto e = handler.events().at(0);
    EXPECT_EQ(0, e.success);
    EXPECT_EQ(static_cast<unsigned long>(EBADF), e.error);
}

} // namespace
