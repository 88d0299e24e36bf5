#include <tav/periodic.hpp>

#include <utility>

namespace tav {

periodic::periodic(std::chrono::steady_clock::duration period, std::function<void()> tick)
    : period_(period), tick_(std::move(tick)), thread_(&periodic::run, this) {}

periodic::~periodic() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void periodic::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, period_, [this] { return stopping_; })) {
        lock.unlock();
        try {
            tick_();
        } catch (...) {
            // The next period comes all the same.
        }
        lock.lock();
    }
}

} // namespace tav
