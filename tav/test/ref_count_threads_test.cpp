#include <tav/ref_counted.hpp>

#include <boost/intrusive_ptr.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class counted : public tav::ref_counted {
public:
    explicit counted(std::atomic<int>& destroyed) : destroyed_(&destroyed) {}
    ~counted() override { ++*destroyed_; }

private:
    std::atomic<int>* destroyed_;
};

// Threads copy and drop pointers to one object while the owner drops its own; whichever thread
// drops the last one destroys it, exactly once and never while another still holds a pointer.
TEST(ref_count_threads, contended_copies_destroy_the_object_once) {
    constexpr int threads = 8;
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> destroyed(0);
        boost::intrusive_ptr<counted> owner(new counted(destroyed));
        std::atomic<bool> go(false);
        std::vector<std::thread> workers;
        workers.reserve(threads);
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&go, &destroyed, shared = owner] {
                while (!go) {
                    std::this_thread::yield();
                }
                std::vector<boost::intrusive_ptr<counted>> copies;
                for (int i = 0; i < 2000; ++i) {
                    copies.push_back(shared);
                    if (copies.size() > 16) {
                        copies.erase(copies.begin(), copies.begin() + 8);
                    }
                }
                EXPECT_EQ(destroyed.load(), 0);
            });
        }
        owner.reset();
        go = true;
        for (auto& worker : workers) {
            worker.join();
        }
        EXPECT_EQ(destroyed.load(), 1);
    }
}

} // namespace
