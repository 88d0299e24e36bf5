#pragma once

// tav::periodic - calls a function once per period on a thread of its own, until it is destroyed.
//
// The first call comes one period after the start. The destructor stops the thread, waiting for a call in
// progress to end, so what the function uses must outlive the periodic object. The function should not
// throw; an exception it throws is dropped and the next period comes as usual.

#include <tav/export.hpp>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tav {

class TAV_EXPORT periodic {
public:
    periodic(std::chrono::steady_clock::duration period, std::function<void()> tick);
    ~periodic();
    periodic(const periodic&) = delete;
    periodic& operator=(const periodic&) = delete;

private:
    void run();

    const std::chrono::steady_clock::duration period_;
    const std::function<void()> tick_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace tav
