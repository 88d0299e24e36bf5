#include <tav/acceptor.hpp>
#include <tav/connector.hpp>

#include "echo.hpp"
#include <support/loopback.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace loopback;
using echo::stream_ptr;

const int connections = 2000;
const size_t payload_size = 3000;

// The number of threads of this process.
int thread_count() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.';
        ::closedir(dir);
    }
    return count;
}

// One client connection: sends its own payload once told to and checks that the echo is byte-exact.
class client : public tav::aio_socket_stream::handler, public tav::aio_socket_stream::writer {
public:
    client(int index, std::atomic<int>& exact, std::atomic<int>& finished)
        : payload_(payload_size), exact_(exact), finished_(finished) {
        for (size_t i = 0; i < payload_size; ++i)
            payload_.wr_ptr()[i] = static_cast<char>((index * 131 + static_cast<int>(i)) % 251);
        expected_.assign(payload_.wr_ptr(), payload_size);
        payload_.wr_ptr(payload_size);
    }

    bool send(const stream_ptr& stream) {
        return stream->write(&payload_, this, nullptr) == tav::aio_error::ok;
    }

    bool handle_input(const stream_ptr& stream) override {
        ACE_Message_Block& in = stream->input_buffer();
        received_.append(in.rd_ptr(), in.length());
        in.rd_ptr(in.length());
        if (received_.size() >= expected_.size() && !done_) {
            done_ = true;
            exact_ += received_ == expected_;
            stream->shutdown();
        }
        return true;
    }
    void handle_input_error(const stream_ptr&, const tav::aio_error&) override {}
    void handle_close(const stream_ptr&) override { ++finished_; }
    void handle_written(const stream_ptr&, const void*) override {}
    void handle_write_error(const stream_ptr&, const void*, const tav::aio_error&) override {}

private:
    ACE_Message_Block payload_;
    std::string expected_;
    std::string received_;
    bool done_ = false;
    std::atomic<int>& exact_;
    std::atomic<int>& finished_;
};

// Gives every connection its client handler and remembers the streams.
class client_connector : public tav::connector {
public:
    stream_ptr create_stream() override { return new tav::aio_socket_stream; }
    void on_connected(const stream_ptr& stream) override {
        std::lock_guard<std::mutex> lock(mutex_);
        streams.push_back(stream);
    }
    void on_connect_failed(const stream_ptr&, unsigned long) override { ++failed; }

    size_t connected() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return streams.size();
    }

    std::vector<stream_ptr> streams;
    std::atomic<int> failed{0};

private:
    mutable std::mutex mutex_;
};

class scale_test : public ::testing::TestWithParam<unsigned> {};

// Both ends of every connection live on one proactor: 4,000 sockets, most of them above descriptor 1024.
TEST_P(scale_test, TwoThousandConcurrentConnectionsEchoByteExact) {
    rlimit limit{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &limit));
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 16384);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &limit));
    ASSERT_GE(limit.rlim_cur, rlim_t{2 * connections + 200}) << "too few descriptors allowed";

    std::unique_ptr<ACE_Proactor> proactor(tav::make_proactor(GetParam()));
    int threads_before = thread_count();
    loop_threads loops(proactor.get(), GetParam());
    echo::manager manager;
    boost::intrusive_ptr<tav::acceptor> acceptor(new tav::acceptor);
    // The kernel's accept queue must hold the whole burst of connects: a handshake completed while the
    // queue is full can be dropped without the connecting side hearing of it.
    ASSERT_TRUE(acceptor->start(ACE_INET_Addr(static_cast<u_short>(0), "127.0.0.1"), &manager, proactor.get(),
                                connections, true));
    // Stops listening on every way out, before the manager goes.
    struct stopper {
        tav::acceptor* a;
        ~stopper() { a->stop(); }
    } stop_listening{acceptor.get()};
    boost::intrusive_ptr<client_connector> connector(new client_connector);
    ASSERT_TRUE(connector->open(proactor.get()));
    for (int i = 0; i < connections; ++i)
        ASSERT_TRUE(connector->connect(acceptor->address(), false));
    ASSERT_TRUE(eventually([&] { return connector->connected() + connector->failed >= connections; }));
    ASSERT_EQ(0, connector->failed.load());
    ASSERT_TRUE(eventually([&] { return manager.created().size() == connections; }));

    // Every connection is open at once before any data moves.
    std::atomic<int> exact{0}, finished{0};
    ACE_HANDLE highest = ACE_INVALID_HANDLE;
    for (int i = 0; i < connections; ++i) {
        stream_ptr stream = connector->streams[static_cast<size_t>(i)];
        highest = std::max(highest, stream->handle());
        boost::intrusive_ptr<client> c(new client(i, exact, finished));
        stream->set_handler(c);
        ASSERT_EQ(tav::aio_error::ok, stream->start_reading());
        ASSERT_TRUE(c->send(stream));
    }
    EXPECT_GT(highest, 1024);
    EXPECT_LE(thread_count(), threads_before + static_cast<int>(GetParam()));
    EXPECT_TRUE(eventually([&] { return finished == connections && manager.closed == connections; }));
    EXPECT_EQ(connections, exact.load());

    acceptor->stop();
    connector->streams.clear();
    EXPECT_TRUE(drain(proactor.get()));
}

INSTANTIATE_TEST_SUITE_P(loop_threads, scale_test, ::testing::Values(1u, 2u));

} // namespace
