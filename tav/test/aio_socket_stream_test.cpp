#include <tav/aio_socket_stream.hpp>

#include <support/loopback.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace loopback;
using tav::aio_error;
using tav::aio_socket_stream;
using stream_ptr = boost::intrusive_ptr<aio_socket_stream>;

// Everything the callbacks of one stream saw, in order.
class event_log {
public:
    void add(const std::string& e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(e);
    }
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    bool has(const std::string& e) const {
        auto all = events();
        return std::find(all.begin(), all.end(), e) != all.end();
    }
    bool closed() const { return has("close"); }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// What the input handler does with the unread bytes.
enum class on_input { consume, take_two_and_pause, consume_nothing, throw_error, give_up_buffer };

class test_handler : public aio_socket_stream::handler {
public:
    explicit test_handler(event_log& log) : log_(log) {}

    bool handle_input(const stream_ptr& stream) override {
        ACE_Message_Block& in = stream->input_buffer();
        std::string unread(in.rd_ptr(), in.length());
        log_.add((stream->status() & aio_socket_stream::peer_closed) ? "input-eof:" + unread
                                                                     : "input:" + unread);
        switch (mode.load()) {
        case on_input::consume:
            in.rd_ptr(in.length());
            return true;
        case on_input::take_two_and_pause:
            in.rd_ptr(std::min<size_t>(2, in.length()));
            return false;
        case on_input::consume_nothing:
            return true;
        case on_input::throw_error:
            throw std::runtime_error("handler failed");
        case on_input::give_up_buffer: {
            ACE_Message_Block* taken = stream->give_up_input_buffer();
            log_.add("taken:" + std::string(taken->rd_ptr(), taken->length()) +
                     (taken->base() != stream->input_buffer().base() ? ":new-block" : ":same-block"));
            taken->release();
            mode = on_input::consume;
            return true;
        }
        }
        return true;
    }
    void handle_input_error(const stream_ptr& stream, const aio_error& error) override {
        log_.add("input-error:" + std::to_string(error.what) +
                 ((stream->status() & aio_socket_stream::callback_error) ? ":callback-error" : ""));
    }
    void handle_close(const stream_ptr& stream) override {
        closing_status = stream->status();
        log_.add("close");
    }

    std::atomic<on_input> mode{on_input::consume};
    std::atomic<unsigned long> closing_status{0};

private:
    event_log& log_;
};

class test_writer : public aio_socket_stream::writer {
public:
    explicit test_writer(event_log& log) : log_(log) {}
    void handle_written(const stream_ptr& /*stream*/, const void* act) override {
        log_.add("written:" + std::to_string(reinterpret_cast<std::uintptr_t>(act)));
        if (throw_on_written)
            throw std::runtime_error("writer failed");
    }
    void handle_write_error(const stream_ptr& /*stream*/, const void* act, const aio_error& error) override {
        log_.add("write-error:" + std::to_string(reinterpret_cast<std::uintptr_t>(act)) + ":" +
                 std::to_string(error.what));
    }
    std::atomic<bool> throw_on_written{false};

private:
    event_log& log_;
};

// A message block released with its owner.
struct chain_deleter {
    void operator()(ACE_Message_Block* b) const { b->release(); }
};
using chain_ptr = std::unique_ptr<ACE_Message_Block, chain_deleter>;

chain_ptr message(const std::string& text) {
    chain_ptr block(new ACE_Message_Block(text.size() + 1));
    block->copy(text.data(), text.size());
    return block;
}

const void* token(std::uintptr_t n) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a tag compared by value
    return reinterpret_cast<const void*>(n);
}

class stream_test : public ::testing::Test {
protected:
    void TearDown() override {
        // Close whatever is still open and let every completion arrive before the loop stops.
        ::close(pair.b.release());
        stream->shutdown();
        EXPECT_TRUE(eventually([&] { return stream->status() == aio_socket_stream::closed; }));
        EXPECT_TRUE(drain(proactor.get()));
    }

    bool open(const std::string& initial = "") {
        chain_ptr data = message(initial);
        int fd = pair.a.fd;
        bool opened = stream->open(fd, *data, proactor.get(), ACE_INET_Addr(), ACE_INET_Addr());
        if (opened)
            pair.a.release();
        return opened;
    }
    bool start() {
        stream->set_handler(handler);
        return stream->start_reading() == aio_error::ok;
    }
    bool send(const std::string& text) {
        return ::send(pair.b.fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    }
    bool wait_for(const std::string& e) {
        return eventually([&] { return log.has(e); });
    }

    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(1)};
    loop_threads loops{proactor.get(), 1};
    tcp_pair pair;
    event_log log;
    stream_ptr stream{new aio_socket_stream};
    boost::intrusive_ptr<test_handler> handler{new test_handler(log)};
    boost::intrusive_ptr<test_writer> writer{new test_writer(log)};
};

TEST_F(stream_test, OpensOnlyWhenClosedAndCanBeOpenedAgainWithItsBuffer) {
    EXPECT_EQ(aio_socket_stream::closed, stream->status());
    chain_ptr none = message("");
    EXPECT_FALSE(stream->open(pair.a.fd, *none, nullptr, ACE_INET_Addr(), ACE_INET_Addr()));
    EXPECT_FALSE(stream->open(ACE_INVALID_HANDLE, *none, proactor.get(), ACE_INET_Addr(), ACE_INET_Addr()));
    ASSERT_TRUE(open("hello"));
    EXPECT_EQ(0u, stream->status());
    EXPECT_FALSE(stream->open(pair.b.fd, *none, proactor.get(), ACE_INET_Addr(), ACE_INET_Addr()));
    ASSERT_TRUE(start());
    ASSERT_TRUE(wait_for("input:hello"));
    ASSERT_TRUE(send("world"));
    ASSERT_TRUE(wait_for("input:world"));
    char* block = stream->input_buffer().base();

    ::close(pair.b.release());
    ASSERT_TRUE(wait_for("close"));
    EXPECT_EQ(aio_socket_stream::closed, stream->status());
    EXPECT_FALSE(stream->get_handler());

    tcp_pair second;
    std::swap(pair.a.fd, second.a.fd);
    std::swap(pair.b.fd, second.b.fd);
    ASSERT_TRUE(open("again"));
    EXPECT_EQ(block, stream->input_buffer().base());
    ASSERT_TRUE(start());
    ASSERT_TRUE(wait_for("input:again"));
}

TEST_F(stream_test, InitialDataMustFitTheInputBuffer) {
    chain_ptr head = message(std::string(16000, 'a'));
    head->cont(message(std::string(385, 'b')).release());
    EXPECT_FALSE(stream->open(pair.a.fd, *head, proactor.get(), ACE_INET_Addr(), ACE_INET_Addr()));
    EXPECT_EQ(aio_socket_stream::closed, stream->status());
    head->cont()->rd_ptr(1);
    ASSERT_TRUE(stream->open(pair.a.fd, *head, proactor.get(), ACE_INET_Addr(), ACE_INET_Addr()));
    pair.a.release();
    EXPECT_EQ(16384u, stream->input_buffer().length());
    EXPECT_EQ(std::string(16000, 'a') + std::string(384, 'b'),
              std::string(stream->input_buffer().rd_ptr(), 16384));
}

TEST_F(stream_test, PostingOperationsCheckTheirArguments) {
    chain_ptr data = message("x");
    // Not opened yet: nothing to post to.
    stream->set_handler(handler);
    EXPECT_EQ(aio_error::failed, stream->start_reading());
    EXPECT_EQ(aio_error::failed, stream->shutdown());
    stream->set_handler(nullptr);
    ASSERT_TRUE(open());
    EXPECT_EQ(aio_error::failed, stream->start_reading());
    EXPECT_EQ(aio_error::bad_argument, stream->write(nullptr, writer, token(1)));
    EXPECT_EQ(aio_error::bad_argument, stream->write(data.get(), nullptr, token(1)));
    EXPECT_TRUE(drain(proactor.get()));
    EXPECT_TRUE(log.events().empty());
}

TEST_F(stream_test, PausedHandlerWaitsForStartReadingWhichReoffersUnreadBytes) {
    handler->mode = on_input::take_two_and_pause;
    const int fd = pair.a.fd;
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    ASSERT_TRUE(send("abcdef"));
    ASSERT_TRUE(wait_for("input:abcdef"));
    ASSERT_TRUE(send("gh"));
    // The two bytes wait in the socket, and everything the proactor had queued has been delivered: a stream
    // that read while paused would have logged them by now.
    ASSERT_TRUE(eventually([&] { return unread_bytes(fd) == 2; }));
    ASSERT_TRUE(drain(proactor.get()));
    EXPECT_EQ(1u, log.events().size());
    ASSERT_EQ(aio_error::ok, stream->start_reading());
    ASSERT_TRUE(wait_for("input:cdef"));
    handler->mode = on_input::consume;
    ASSERT_EQ(aio_error::ok, stream->start_reading());
    ASSERT_TRUE(eventually([&] { return log.has("input:efgh") || log.has("input:gh"); }));
}

TEST_F(stream_test, FullBufferThatTheHandlerDoesNotConsumeClosesTheStream) {
    handler->mode = on_input::consume_nothing;
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    ASSERT_TRUE(send(std::string(20000, 'z')));
    ASSERT_TRUE(wait_for("close"));
    auto events = log.events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ("input-error:6:callback-error", events[events.size() - 2]);
    EXPECT_TRUE(peer_closed(pair.b.fd));
}

TEST_F(stream_test, ExceptionFromHandleInputShutsTheStreamDownAtOnce) {
    handler->mode = on_input::throw_error;
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    ASSERT_TRUE(send("x"));
    ASSERT_TRUE(wait_for("close"));
    EXPECT_EQ((std::vector<std::string>{"input:x", "close"}), log.events());
    EXPECT_TRUE(handler->closing_status & aio_socket_stream::callback_error);
    EXPECT_TRUE(peer_closed(pair.b.fd));
}

TEST_F(stream_test, ExceptionFromHandleWrittenShutsDownAfterTheNextInput) {
    writer->throw_on_written = true;
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    chain_ptr data = message("a");
    ASSERT_EQ(aio_error::ok, stream->write(data.get(), writer, token(1)));
    ASSERT_EQ("a", receive(pair.b.fd, 1));
    ASSERT_TRUE(wait_for("written:1"));
    ASSERT_TRUE(drain(proactor.get()));
    EXPECT_TRUE(stream->status() & aio_socket_stream::callback_error);
    EXPECT_FALSE(log.closed());
    ASSERT_TRUE(send("b"));
    ASSERT_TRUE(wait_for("close"));
    EXPECT_EQ((std::vector<std::string>{"written:1", "input:b", "close"}), log.events());
}

TEST_F(stream_test, PeerCloseStillSendsTheQueuedWrites) {
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    // More than the socket buffers hold, so the write is still queued when the peer's close arrives.
    const std::string big(32 << 20, 'q');
    chain_ptr data = message(big);
    ASSERT_EQ(aio_error::ok, stream->write(data.get(), writer, token(1)));
    ASSERT_EQ(0, ::shutdown(pair.b.fd, SHUT_WR));
    ASSERT_TRUE(wait_for("input-eof:"));
    EXPECT_FALSE(log.has("written:1"));
    EXPECT_EQ(big, receive(pair.b.fd, big.size()));
    ASSERT_TRUE(wait_for("close"));
    EXPECT_EQ((std::vector<std::string>{"input-eof:", "written:1", "close"}), log.events());
    EXPECT_TRUE(peer_closed(pair.b.fd));
}

TEST_F(stream_test, ShutdownWritingSendsTheQueuedWritesThenTheEndAndReadingGoesOn) {
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    chain_ptr one = message("one"), two = message("two");
    ASSERT_EQ(aio_error::ok, stream->write(one.get(), writer, token(1)));
    ASSERT_EQ(aio_error::ok, stream->shutdown_writing());
    ASSERT_EQ(aio_error::ok, stream->write(two.get(), writer, token(2)));
    EXPECT_EQ("one", receive(pair.b.fd, 100)) << "the end follows the queued write";
    ASSERT_TRUE(wait_for("write-error:2:3"));
    ASSERT_TRUE(send("back"));
    ASSERT_TRUE(wait_for("input:back"));
    EXPECT_FALSE(log.closed());
    ASSERT_EQ(0, ::shutdown(pair.b.fd, SHUT_WR));
    ASSERT_TRUE(wait_for("close"));
    // The refusal comes whenever the second write's command runs; the rest keeps its order.
    auto events = log.events();
    events.erase(std::remove(events.begin(), events.end(), "write-error:2:3"), events.end());
    EXPECT_EQ((std::vector<std::string>{"written:1", "input:back", "input-eof:", "close"}), events);
}

TEST_F(stream_test, WithHalfCloseAllowedThePeersEndStopsOnlyReading) {
    stream->allow_half_close(true);
    handler->mode = on_input::take_two_and_pause;
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    ASSERT_TRUE(send("abcd"));
    ASSERT_EQ(0, ::shutdown(pair.b.fd, SHUT_WR));
    ASSERT_TRUE(wait_for("input:abcd"));
    ASSERT_EQ(aio_error::ok, stream->start_reading());
    ASSERT_TRUE(wait_for("input:cd"));
    // A handler that pauses at the end is offered it again.
    ASSERT_EQ(aio_error::ok, stream->start_reading());
    ASSERT_TRUE(wait_for("input-eof:"));
    handler->mode = on_input::consume;
    ASSERT_EQ(aio_error::ok, stream->start_reading());
    ASSERT_TRUE(eventually([&] { return log.events().size() == 4; }));
    chain_ptr late = message("late");
    ASSERT_EQ(aio_error::ok, stream->write(late.get(), writer, token(1)));
    EXPECT_EQ("late", receive(pair.b.fd, 4)) << "writing goes on after the peer's end";
    ASSERT_TRUE(wait_for("written:1"));
    EXPECT_FALSE(log.closed());
    ASSERT_EQ(aio_error::ok, stream->shutdown());
    ASSERT_TRUE(wait_for("close"));
    EXPECT_TRUE(peer_closed(pair.b.fd));
    EXPECT_EQ((std::vector<std::string>{"input:abcd", "input:cd", "input-eof:", "input-eof:", "written:1",
                                        "close"}),
              log.events());
}

TEST_F(stream_test, ShutdownSendsTheQueuedWritesFirstAndRefusesLaterOnes) {
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    chain_ptr one = message("one"), two = message("two"), three = message("three"), four = message("four");
    ASSERT_EQ(aio_error::ok, stream->write(one.get(), writer, token(1)));
    ASSERT_EQ(aio_error::ok, stream->write(two.get(), writer, token(2)));
    ASSERT_EQ(aio_error::ok, stream->write(three.get(), writer, token(3)));
    ASSERT_EQ(aio_error::ok, stream->shutdown());
    ASSERT_EQ(aio_error::ok, stream->shutdown());
    ASSERT_EQ(aio_error::ok, stream->write(four.get(), writer, token(4)));
    EXPECT_EQ("onetwothree", receive(pair.b.fd, 100));
    ASSERT_TRUE(wait_for("close"));
    ASSERT_TRUE(drain(proactor.get()));
    // The refusal comes whenever the fourth write's command runs; the rest keeps its order.
    auto events = log.events();
    events.erase(std::remove(events.begin(), events.end(), "write-error:4:3"), events.end());
    EXPECT_EQ((std::vector<std::string>{"written:1", "written:2", "written:3", "close"}), events);
    EXPECT_TRUE(log.has("write-error:4:3"));
}

TEST_F(stream_test, FailingWriteDiscardsTheRestAndReadingRunsToItsEnd) {
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    chain_ptr big = message(std::string(32 << 20, 'w')), two = message("two"), three = message("three");
    ASSERT_EQ(aio_error::ok, stream->write(big.get(), writer, token(1)));
    ASSERT_EQ(aio_error::ok, stream->write(two.get(), writer, token(2)));
    ASSERT_EQ(aio_error::ok, stream->write(three.get(), writer, token(3)));
    ASSERT_TRUE(drain(proactor.get()));
    // The peer resets the connection while the first write waits for room.
    linger reset{1, 0};
    ASSERT_EQ(0, ::setsockopt(pair.b.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset));
    ::close(pair.b.release());
    ASSERT_TRUE(wait_for("close"));
    auto events = log.events();
    auto at = [&](const std::string& e) {
        return std::find(events.begin(), events.end(), e) - events.begin();
    };
    ASSERT_TRUE(log.has("write-error:1:3"));
    EXPECT_LT(at("write-error:1:3"), at("write-error:2:5"));
    EXPECT_LT(at("write-error:2:5"), at("write-error:3:5"));
    EXPECT_EQ("close", events.back());
}

TEST_F(stream_test, LargeChainIsSentWholeWithOneCompletion) {
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    std::string expected;
    chain_ptr head = message(std::string(3 << 20, 'a'));
    ACE_Message_Block* tail = head.get();
    for (char c : {'b', 'c'}) {
        tail->cont(message(std::string(2 << 20, c)).release());
        tail = tail->cont();
    }
    for (ACE_Message_Block* b = head.get(); b != nullptr; b = b->cont())
        expected.append(b->rd_ptr(), b->length());
    ASSERT_EQ(aio_error::ok, stream->write(head.get(), writer, token(7)));
    EXPECT_EQ(expected, receive(pair.b.fd, expected.size()));
    ASSERT_TRUE(wait_for("written:7"));
    EXPECT_EQ(0u, head->total_length());
    ASSERT_TRUE(drain(proactor.get()));
    EXPECT_EQ((std::vector<std::string>{"written:7"}), log.events());
}

TEST_F(stream_test, GivenUpInputBlockBelongsToTheCallerAndReadingGoesOn) {
    handler->mode = on_input::give_up_buffer;
    ASSERT_TRUE(open());
    ASSERT_TRUE(start());
    ASSERT_TRUE(send("first"));
    ASSERT_TRUE(wait_for("taken:first:new-block"));
    ASSERT_TRUE(send("second"));
    ASSERT_TRUE(wait_for("input:second"));
    EXPECT_EQ(aio_socket_stream::input_size, stream->input_buffer().capacity());
}

} // namespace

TEST(stream_order, WritesPostedFromOneThreadLeaveInOrderWhateverThreadRunsThem) {
    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(2)};
    loop_threads loops{proactor.get(), 2};
    tcp_pair pair;
    stream_ptr stream{new aio_socket_stream};
    chain_ptr none = message("");
    ASSERT_TRUE(stream->open(pair.a.fd, *none, proactor.get(), ACE_INET_Addr(), ACE_INET_Addr()));
    pair.a.release();
    event_log log;
    boost::intrusive_ptr<test_writer> writer(new test_writer(log));
    std::string expected;
    std::vector<chain_ptr> chains;
    for (int i = 0; i < 2000; ++i) {
        chains.push_back(message(std::to_string(i) + ","));
        expected += std::to_string(i) + ",";
        ASSERT_EQ(aio_error::ok, stream->write(chains.back().get(), writer, token(1)));
    }
    EXPECT_EQ(expected, receive(pair.b.fd, expected.size()));
    ASSERT_TRUE(eventually([&] { return log.events().size() == chains.size(); }));
    loops.stop();
}
