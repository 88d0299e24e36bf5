#include <tav/acceptor.hpp>
#include <tav/connector.hpp>

#include "echo.hpp"
#include <support/loopback.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace loopback;
using echo::stream_ptr;

std::atomic<int> acceptors_destroyed{0};

// Counts the accepts it issues.
class counting_acceptor : public tav::acceptor {
public:
    int accept(size_t bytes_to_read, const void* act) override {
        ++issued;
        return tav::acceptor::accept(bytes_to_read, act);
    }
    std::atomic<int> issued{0};

protected:
    ~counting_acceptor() override { ++acceptors_destroyed; }
};

ACE_INET_Addr loopback_address(unsigned short port) {
    return ACE_INET_Addr(port, "127.0.0.1");
}

// Sends a line and reads the same number of bytes back.
std::string round_trip(int fd, const std::string& text) {
    if (::send(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        return "";
    return receive(fd, text.size());
}

class acceptor_test : public ::testing::Test {
protected:
    void TearDown() override {
        acceptor->stop();
        clients.clear();
        EXPECT_TRUE(eventually([&] { return manager.closed == echo_sessions(); }));
        EXPECT_TRUE(drain(proactor.get()));
    }

    int echo_sessions() const { return static_cast<int>(manager.created().size() - manager.failed().size()); }
    bool start(int backlog) {
        return acceptor->start(loopback_address(0), &manager, proactor.get(), backlog, true);
    }
    int client() {
        clients.push_back(std::make_unique<fd_guard>(connect_to(acceptor->address().get_port_number())));
        return clients.back()->fd;
    }

    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(2)};
    loop_threads loops{proactor.get(), 2};
    echo::manager manager;
    boost::intrusive_ptr<counting_acceptor> acceptor{new counting_acceptor};
    std::vector<std::unique_ptr<fd_guard>> clients;
};

TEST_F(acceptor_test, StartFailsOnAnAddressInUseAndKeepsNothing) {
    unsigned short port = 0;
    fd_guard taken(loopback_socket(true, &port));
    EXPECT_FALSE(acceptor->start(loopback_address(port), &manager, proactor.get(), 4, true));
    EXPECT_EQ(ACE_INET_Addr(), acceptor->address());
    EXPECT_FALSE(acceptor->start(loopback_address(0), nullptr, proactor.get(), 4, true));
    EXPECT_FALSE(acceptor->start(loopback_address(0), &manager, nullptr, 4, true));
    ASSERT_TRUE(start(4));
    EXPECT_FALSE(start(4));
}

TEST_F(acceptor_test, KeepsTheBacklogOfAcceptsOutstandingAndHandsSocketsToSessions) {
    ASSERT_TRUE(start(4));
    EXPECT_EQ(4, acceptor->issued.load());
    EXPECT_NE(0, acceptor->address().get_port_number());
    EXPECT_EQ(loopback_address(0).get_ip_address(), acceptor->address().get_ip_address());
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ("hello " + std::to_string(i), round_trip(client(), "hello " + std::to_string(i)));
    // Each accept is re-issued once its session has opened, which may be just after the echo came back.
    EXPECT_TRUE(eventually([&] { return acceptor->issued == 10; }));
    EXPECT_EQ(6, echo_sessions());
}

TEST_F(acceptor_test, RefusedOrFailedSessionsCloseTheConnectionAndListeningGoesOn) {
    ASSERT_TRUE(start(2));
    manager.behaviour = echo::manager::mode::refuse;
    EXPECT_TRUE(peer_closed(client()));
    EXPECT_TRUE(manager.created().empty());

    manager.behaviour = echo::manager::mode::fail;
    EXPECT_TRUE(peer_closed(client()));
    ASSERT_EQ(1u, manager.failed().size());
    EXPECT_EQ(manager.created().at(0), manager.failed().at(0));

    manager.behaviour = echo::manager::mode::echo;
    EXPECT_EQ("still here", round_trip(client(), "still here"));
}

TEST_F(acceptor_test, StopEndsTheOutstandingAcceptsWithoutSessions) {
    ASSERT_TRUE(start(3));
    counting_acceptor* raw = acceptor.get();
    int destroyed = acceptors_destroyed;
    unsigned short port = acceptor->address().get_port_number();
    // The outstanding accepts keep the acceptor alive after its owner lets go.
    acceptor.reset();
    fd_guard alive(connect_to(port));
    EXPECT_EQ("alive", round_trip(alive.fd, "alive"));
    raw->stop();
    EXPECT_TRUE(eventually([&] { return acceptors_destroyed == destroyed + 1; }));
    EXPECT_EQ(1u, manager.created().size());
    EXPECT_EQ(-1, connect_to(port));
    acceptor = new counting_acceptor;
}

TEST_F(acceptor_test, OutOfDescriptorsTheAcceptsWaitQuietlyAndGoOnOnceSomeAreFree) {
#ifdef __SANITIZE_ADDRESS__
    // UBSan, built together with AddressSanitizer here, checks an object's type through a pipe of its own,
    // which a process out of descriptors cannot make; it then takes sound objects for broken ones.
    GTEST_SKIP() << "the sanitizers need descriptors of their own";
#endif
    ASSERT_TRUE(start(2));
    rlimit was{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &was));
    rlimit low = was;
    low.rlim_cur = std::min<rlim_t>(was.rlim_cur, 256);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &low));
    std::vector<int> fillers;
    for (int fd; (fd = ::dup(0)) >= 0;)
        fillers.push_back(fd);
    ASSERT_EQ(EMFILE, errno);
    // The last free descriptor goes to a client, whose connection then waits for one to be accepted with.
    ::close(fillers.back());
    fillers.pop_back();
    const int waiting = client();
    ASSERT_NE(-1, waiting);
    ASSERT_TRUE(eventually([&] { return manager.paused == 1; })) << "it says so";

    const auto cpu = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    };
    const double before = cpu();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double used = cpu() - before;
    EXPECT_LT(used, 0.2) << "seconds of processor time in a second of waiting";
    EXPECT_EQ(1, manager.paused.load()) << "said once";
    EXPECT_TRUE(manager.created().empty());

    for (const int fd : fillers)
        ::close(fd);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &was));
    EXPECT_EQ("served", round_trip(waiting, "served")) << "the retry takes at most a second";
    acceptor->resume();
    EXPECT_EQ("again", round_trip(client(), "again"));
}

// Records what happens to its connects.
class test_connector : public tav::connector {
public:
    stream_ptr create_stream() override {
        return refuse_streams ? nullptr : stream_ptr(new tav::aio_socket_stream);
    }
    void on_connected(const stream_ptr& stream) override {
        std::lock_guard<std::mutex> lock(mutex_);
        streams_.push_back(stream);
        events_.push_back("connected");
    }
    void on_connect_failed(const stream_ptr& stream, unsigned long error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::string(stream ? "failed-with-stream:" : "failed:") + std::to_string(error));
    }

    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    stream_ptr stream(size_t i) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return streams_.at(i);
    }
    std::atomic<bool> refuse_streams{false};

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<stream_ptr> streams_;
};

// Collects what a client stream reads.
class collector : public tav::aio_socket_stream::handler, public tav::aio_socket_stream::writer {
public:
    bool handle_input(const stream_ptr& stream) override {
        ACE_Message_Block& in = stream->input_buffer();
        std::lock_guard<std::mutex> lock(mutex_);
        data_.append(in.rd_ptr(), in.length());
        in.rd_ptr(in.length());
        return true;
    }
    void handle_input_error(const stream_ptr&, const tav::aio_error&) override {}
    void handle_close(const stream_ptr&) override { closed = true; }
    void handle_written(const stream_ptr&, const void*) override {}
    void handle_write_error(const stream_ptr&, const void*, const tav::aio_error&) override {}

    std::string data() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return data_;
    }
    std::atomic<bool> closed{false};

private:
    mutable std::mutex mutex_;
    std::string data_;
};

class connector_test : public acceptor_test {
protected:
    void SetUp() override { ASSERT_TRUE(connector->open(proactor.get())); }
    void TearDown() override {
        for (size_t i = 0; i < connected(); ++i)
            connector->stream(i)->shutdown();
        acceptor_test::TearDown();
    }
    size_t connected() const {
        auto events = connector->events();
        return static_cast<size_t>(std::count(events.begin(), events.end(), "connected"));
    }

    boost::intrusive_ptr<test_connector> connector{new test_connector};
};

TEST_F(connector_test, ConnectToAClosedPortReportsTheSystemError) {
    unsigned short port = 0;
    fd_guard bound(loopback_socket(false, &port));
    ASSERT_TRUE(connector->connect(loopback_address(port), false));
    ASSERT_TRUE(eventually([&] { return !connector->events().empty(); }));
    EXPECT_EQ("failed:" + std::to_string(ECONNREFUSED), connector->events().at(0));
}

TEST_F(connector_test, ConnectedStreamCarriesBothAddressesAndWaitsForItsOwner) {
    ASSERT_TRUE(start(2));
    unsigned short port = acceptor->address().get_port_number();
    ASSERT_TRUE(connector->connect(loopback_address(port), false));
    ASSERT_TRUE(connector->connect(loopback_address(port), true, loopback_address(0)));
    ASSERT_TRUE(eventually([&] { return connected() == 2; }));
    for (size_t i = 0; i < 2; ++i) {
        stream_ptr s = connector->stream(i);
        EXPECT_EQ(port, s->remote_addr().get_port_number());
        EXPECT_EQ(loopback_address(0).get_ip_address(), s->local_addr().get_ip_address());
        EXPECT_NE(0, s->local_addr().get_port_number());
        boost::intrusive_ptr<collector> c(new collector);
        s->set_handler(c);
        ASSERT_EQ(tav::aio_error::ok, s->start_reading());
        ACE_Message_Block ping(8);
        ping.copy("ping", 4);
        ASSERT_EQ(tav::aio_error::ok, s->write(&ping, c, nullptr));
        EXPECT_TRUE(eventually([&] { return c->data() == "ping"; }));
    }
}

TEST_F(connector_test, ConnectionWithoutAStreamIsClosed) {
    ASSERT_TRUE(start(2));
    connector->refuse_streams = true;
    ASSERT_TRUE(connector->connect(loopback_address(acceptor->address().get_port_number()), false));
    ASSERT_TRUE(eventually([&] { return !connector->events().empty(); }));
    EXPECT_EQ("failed:0", connector->events().at(0));
    // The server side sees the close.
    EXPECT_TRUE(eventually([&] { return manager.closed == 1; }));
}

} // namespace
