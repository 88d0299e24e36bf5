#include "log_folder.hpp"

#include <tav/logger.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class logger_threads : public log_folder_test {};

// Four threads log numbered records all the time while the logger is started and stopped twice.
// Every record queued while it runs is written and nothing else is: each thread's records appear
// in order, as one unbroken run per session.
TEST_F(logger_threads, concurrent_log_start_and_stop) {
    constexpr int threads = 4;
    tav::logger log;
    std::atomic<bool> done(false);
    std::atomic<long> logged(0);
    std::vector<std::thread> workers;
    workers.reserve(threads);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (long n = 0; !done; ++n) {
                boost::intrusive_ptr<tav::log_record> record(new tav::log_record);
                record->set_field("t", std::to_string(t), true);
                record->set_field("n", std::to_string(n), true);
                log.log(record);
                ++logged;
            }
        });
    }
    const auto wait_for = [&logged](long more) {
        const long target = logged + more;
        while (logged < target) {
            std::this_thread::yield();
        }
    };
    for (int session = 0; session < 2; ++session) {
        wait_for(1000);
        log.start("threads", {"t", "n"}, true);
        wait_for(20000);
        log.stop();
    }
    done = true;
    for (auto& worker : workers) {
        worker.join();
    }

    std::vector<std::vector<long>> seen(threads);
    for (const std::string& line : lines("log/threads/log.txt")) {
        std::istringstream columns(line);
        int t = 0;
        long n = 0;
        if (columns >> t >> n) {
            seen.at(t).push_back(n);
        }
    }
    long total = 0;
    for (const auto& numbers : seen) {
        int runs = numbers.empty() ? 0 : 1;
        for (std::size_t i = 1; i < numbers.size(); ++i) {
            ASSERT_GT(numbers[i], numbers[i - 1]);
            runs += numbers[i] == numbers[i - 1] + 1 ? 0 : 1;
        }
        EXPECT_LE(runs, 2);
        total += static_cast<long>(numbers.size());
    }
    EXPECT_GE(total, 40000);
}

} // namespace
