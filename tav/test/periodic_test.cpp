#include <tav/periodic.hpp>

#include <support/event_loop.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>

namespace {

// Ticks come until the object goes, even after one that throws; its destruction waits for a tick in
// progress and no tick comes after it.
TEST(periodic, TicksUntilDestroyedAndWaitsForTheTickInProgress) {
    std::atomic<int> ticks{0};
    std::atomic<bool> inside{false};
    auto ticking = std::make_unique<tav::periodic>(std::chrono::milliseconds(1), [&] {
        inside = true;
        if (++ticks == 1)
            throw std::runtime_error("a tick that fails");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        inside = false;
    });
    ASSERT_TRUE(event_loop::eventually([&] { return ticks >= 3; })) << ticks;
    ticking.reset();
    EXPECT_FALSE(inside) << "the tick in progress ended before the destructor returned";
    const int seen = ticks;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(seen, ticks);
}

} // namespace
