#include <tav/aio_cmd.hpp>

#include <support/loopback.hpp>

#include <ace/Proactor.h>
#include <ace/Proactor_Impl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using loopback::eventually;
using loopback::loop_threads;

// Counts the commands it receives and its own destruction.
class target : public tav::aio_cmd_handler {
public:
    target(ACE_Proactor* proactor, std::atomic<int>& destroyed) : destroyed_(destroyed) {
        this->proactor(proactor);
    }
    ~target() override {
        calls_before_destruction = calls.load();
        ++destroyed_;
    }

    void handle_cmd(tav::aio_cmd* cmd) override { cmd->execute(this); }

    std::atomic<int> calls{0};
    static inline std::atomic<int> calls_before_destruction{-1};

private:
    std::atomic<int>& destroyed_;
};

using target_ptr = boost::intrusive_ptr<target>;

// A command that counts its own destruction.
class counted_cmd : public tav::aio_cmd {
public:
    counted_cmd(const target_ptr& t, std::atomic<int>& destroyed)
        : ACE_Asynch_Result_Impl(), aio_cmd(t, nullptr), destroyed_(destroyed) {}
    ~counted_cmd() override { ++destroyed_; }
    void execute(tav::aio_cmd_handler* h) override { ++static_cast<target*>(h)->calls; }

private:
    std::atomic<int>& destroyed_;
};

TEST(aio_error, TestsTrueExactlyWhenThereIsAnError) {
    EXPECT_FALSE(tav::aio_error(tav::aio_error::ok, nullptr));
    for (int c = tav::aio_error::no_memory; c <= tav::aio_error::failed; ++c)
        EXPECT_TRUE(tav::aio_error(static_cast<tav::aio_error::code>(c), nullptr)) << c;
}

class aio_cmd_test : public ::testing::Test {
protected:
    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(2)};
    std::atomic<int> handlers_destroyed{0};
    std::atomic<int> commands_destroyed{0};
};

TEST_F(aio_cmd_test, HandlerDroppedRightAfterPostingStillReceivesItsCommand) {
    ASSERT_NE(nullptr, proactor);
    target_ptr t(new target(proactor.get(), handlers_destroyed));
    ASSERT_TRUE((new counted_cmd(t, commands_destroyed))->enqueue());
    t.reset();
    // Nothing runs the loop yet: the queued command alone keeps the handler.
    EXPECT_EQ(0, handlers_destroyed.load());
    loop_threads loops(proactor.get(), 1);
    // Delivery releases the handler; the command is destroyed just after, on the loop thread.
    EXPECT_TRUE(eventually([&] { return handlers_destroyed == 1 && commands_destroyed == 1; }))
        << handlers_destroyed << " handlers and " << commands_destroyed << " commands destroyed";
    EXPECT_EQ(1, target::calls_before_destruction.load());
}

TEST_F(aio_cmd_test, CommandsThatCannotBePostedAreDestroyedAtOnce) {
    // A handler without a proactor.
    target_ptr orphan(new target(nullptr, handlers_destroyed));
    EXPECT_FALSE((new counted_cmd(orphan, commands_destroyed))->enqueue());
    EXPECT_EQ(1, commands_destroyed.load());
    try {
        tav::post_call(orphan, [] {});
        ADD_FAILURE() << "post_call did not throw";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string("call_cmd::enqueue() failed"), e.what());
    }
    // A command created without a handler.
    EXPECT_FALSE((new counted_cmd(nullptr, commands_destroyed))->enqueue());
    EXPECT_EQ(2, commands_destroyed.load());
    // A proactor that no longer takes results.
    target_ptr t(new target(proactor.get(), handlers_destroyed));
    proactor->implementation()->close();
    EXPECT_FALSE((new counted_cmd(t, commands_destroyed))->enqueue());
    EXPECT_EQ(3, commands_destroyed.load());
    EXPECT_EQ(0, t->calls.load());
    orphan.reset();
    t.reset();
    // No reference was left behind by the failed posts.
    EXPECT_EQ(2, handlers_destroyed.load());
}

TEST_F(aio_cmd_test, CommandOfADestroyedHandlerIsDroppedSilently) {
    target_ptr t(new target(proactor.get(), handlers_destroyed));
    std::unique_ptr<counted_cmd> cmd(new counted_cmd(t, commands_destroyed));
    t.reset();
    ASSERT_EQ(1, handlers_destroyed.load());
    cmd->complete(0, 1, nullptr, 0);
    cmd.reset();
    EXPECT_EQ(1, commands_destroyed.load());
}

// Commands posted from two threads and delivered on two loop threads each arrive exactly once and are
// destroyed after delivery.
TEST_F(aio_cmd_test, ManyPostsFromSeveralThreadsArriveOnceEach) {
    target_ptr t(new target(proactor.get(), handlers_destroyed));
    const int per_thread = 20000;
    {
        loop_threads loops(proactor.get(), 2);
        std::vector<std::thread> posters;
        posters.reserve(2);
        for (int i = 0; i < 2; ++i)
            posters.emplace_back([&] {
                for (int n = 0; n < per_thread; ++n)
                    ASSERT_TRUE((new counted_cmd(t, commands_destroyed))->enqueue());
            });
        for (std::thread& p : posters)
            p.join();
        EXPECT_TRUE(eventually([&] { return commands_destroyed == 2 * per_thread; }));
    }
    EXPECT_EQ(2 * per_thread, t->calls.load());
    t.reset();
    EXPECT_EQ(1, handlers_destroyed.load());
}

} // namespace
