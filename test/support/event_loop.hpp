#pragma once

// Event loop threads and waiting, shared by the asynchronous tests and the proactor benchmark.

#include <tav/aio_cmd.hpp>

#include <ace/Proactor.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace event_loop {

using namespace std::chrono_literals;

// Waits up to ten seconds for `done`.
inline bool eventually(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A command target that only runs the commands posted for it.
class plain_target : public tav::aio_cmd_handler {
public:
    explicit plain_target(ACE_Proactor* proactor) { this->proactor(proactor); }
    void handle_cmd(tav::aio_cmd* cmd) override { cmd->execute(this); }
};

// Waits until the proactor has taken everything queued before this call; with one loop thread, until it
// has delivered it.
inline bool drain(ACE_Proactor* proactor) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    boost::intrusive_ptr<tav::aio_cmd_handler> target(new plain_target(proactor));
    try {
        tav::post_call(target, [done] { *done = true; });
    } catch (const std::exception&) {
        return false;
    }
    return eventually([&] { return done->load(); });
}

// Runs a proactor's event loop on `count` threads for the life of the object.
class loop_threads {
public:
    loop_threads(ACE_Proactor* proactor, unsigned count) : proactor_(proactor) {
        for (unsigned i = 0; proactor != nullptr && i < count; ++i)
            threads_.emplace_back([this] { proactor_->proactor_run_event_loop(); });
    }
    loop_threads(const loop_threads&) = delete;
    loop_threads& operator=(const loop_threads&) = delete;
    ~loop_threads() { stop(); }

    // Ends the loop threads, then delivers on this thread whatever they left queued, so that no result is
    // dropped undelivered with the references it holds.
    void stop() {
        if (threads_.empty())
            return;
        proactor_->proactor_end_event_loop();
        for (std::thread& t : threads_)
            t.join();
        threads_.clear();
        ACE_Time_Value no_wait(0);
        while (proactor_->handle_events(no_wait) > 0)
            no_wait = ACE_Time_Value(0);
    }

private:
    ACE_Proactor* proactor_;
    std::vector<std::thread> threads_;
};

} // namespace event_loop
