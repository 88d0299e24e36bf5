// Measures how long callers of tav::logger::log wait while several threads log at full speed and
// the writer drains the queue, and how fast records are taken and written. Two baselines are
// measured in the same run: one line written and flushed to a file, as the writer does for every
// record, and the noise floor of the machine, the same threads timing a mutex of their own beside a
// thread that writes a file. log never waits for the disk, so its calls should stay far below a
// write, apart from what the scheduler adds to any thread.
//
// Usage: logger_bench [records per thread [threads]], default 1000000 and 4. Works in a temporary
// directory.

#include <support/temp_folder.hpp>
#include <tav/logger.hpp>

#include <boost/thread/mutex.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;
using record_ptr = boost::intrusive_ptr<tav::log_record>;

const std::vector<std::string> fields{"date",        "time",      "c-ip",    "cs-method",
                                      "cs-uri-stem", "sc-status", "sc-bytes"};

double nanoseconds(clock_type::duration d) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
}

// Call durations in power-of-two buckets of nanoseconds, and the longest one.
struct latencies {
    std::array<std::uint64_t, 64> buckets{};
    double longest = 0;
    double sum = 0;
    std::uint64_t count = 0;

    void add(double ns) {
        longest = std::max(longest, ns);
        sum += ns;
        ++count;
        int bucket = 0;
        for (auto n = static_cast<std::uint64_t>(ns); n > 1; n >>= 1U) {
            ++bucket;
        }
        ++buckets.at(bucket);
    }
    void add(const latencies& other) {
        for (std::size_t i = 0; i < buckets.size(); ++i) {
            buckets[i] += other.buckets[i];
        }
        longest = std::max(longest, other.longest);
        sum += other.sum;
        count += other.count;
    }
    double mean() const { return sum / static_cast<double>(count); }
    // The upper bound of the bucket below which the given fraction of calls fall.
    double percentile(double fraction) const {
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < buckets.size(); ++i) {
            seen += buckets[i];
            if (static_cast<double>(seen) >= fraction * static_cast<double>(count)) {
                return static_cast<double>(std::uint64_t{2} << i);
            }
        }
        return longest;
    }
};

void describe(const char* what, const latencies& calls) {
    std::printf("%s: mean %.0f ns, p50 < %.0f ns, p99.9 < %.0f ns, p99.99 < %.0f ns, longest %.0f ns\n", what,
                calls.mean(), calls.percentile(0.5), calls.percentile(0.999), calls.percentile(0.9999),
                calls.longest);
}

record_ptr make_record(int thread) {
    record_ptr record(new tav::log_record);
    record->set_field("date", "2024-05-01", true);
    record->set_field("time", "10:00:01", true);
    record->set_field("c-ip", "192.168.1." + std::to_string(10 + thread), true);
    record->set_field("cs-method", "GET", true);
    record->set_field("cs-uri-stem", "/some/page/index.html", true);
    record->set_field("sc-status", "200", true);
    record->set_field("sc-bytes", "5120", true);
    return record;
}

// The baseline: one log line written and flushed to a file, as the writer does for every record.
latencies file_writes(int count) {
    const std::string line = make_record(0)->format(fields);
    std::ofstream file("baseline.txt", std::ios::out | std::ios::app);
    latencies result;
    for (int i = 0; i < count; ++i) {
        const auto begin = clock_type::now();
        file << line << std::endl;
        result.add(nanoseconds(clock_type::now() - begin));
    }
    return result;
}

// The scheduling noise of the same load without the logger: as many threads time the lock and
// unlock of a mutex of their own while one more thread writes and flushes lines to a file.
latencies noise_floor(int thread_count, long per_thread) {
    const std::string line = make_record(0)->format(fields);
    std::atomic<bool> done(false);
    std::thread writer([&done, &line] {
        std::ofstream file("noise.txt", std::ios::out | std::ios::app);
        while (!done) {
            file << line << std::endl;
        }
    });
    std::vector<latencies> calls(thread_count);
    std::vector<std::thread> threads;
    threads.reserve(thread_count);
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&calls, t, per_thread] {
            boost::mutex own;
            for (long i = 0; i < per_thread; ++i) {
                const auto begin = clock_type::now();
                own.lock();
                own.unlock();
                calls[t].add(nanoseconds(clock_type::now() - begin));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    done = true;
    writer.join();
    latencies all;
    for (const auto& c : calls) {
        all.add(c);
    }
    return all;
}

double uncontended_lock(int count) {
    boost::mutex lock;
    const auto begin = clock_type::now();
    for (int i = 0; i < count; ++i) {
        lock.lock();
        lock.unlock();
    }
    return nanoseconds(clock_type::now() - begin) / count;
}

} // namespace

int main(int argc, char** argv) {
    const long per_thread = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int thread_count = argc > 2 ? std::atoi(argv[2]) : 4;
    const support::temp_folder folder("logger-bench");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());

    const latencies writes = file_writes(20000);
    const double lock_ns = uncontended_lock(1000000);
    const latencies noise = noise_floor(thread_count, per_thread);

    tav::logger log;
    log.start("bench", fields, false);
    std::atomic<bool> go(false);
    std::vector<latencies> calls(thread_count);
    std::vector<std::thread> threads;
    threads.reserve(thread_count);
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            const record_ptr record = make_record(t);
            while (!go) {
                std::this_thread::yield();
            }
            for (long i = 0; i < per_thread; ++i) {
                const auto begin = clock_type::now();
                log.log(record);
                calls[t].add(nanoseconds(clock_type::now() - begin));
            }
        });
    }
    const auto begin = clock_type::now();
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    const auto logged = clock_type::now();
    log.stop();
    const auto written = clock_type::now();

    latencies all;
    for (const auto& c : calls) {
        all.add(c);
    }
    const double records = static_cast<double>(per_thread) * thread_count;
    std::printf("%d threads x %ld records\n", thread_count, per_thread);
    std::printf("log calls:       %12.0f records/s (all threads)\n",
                records * 1e9 / nanoseconds(logged - begin));
    std::printf("written to disk: %12.0f records/s (until stop returned)\n",
                records * 1e9 / nanoseconds(written - begin));
    describe("log call", all);
    describe("baseline: one line written and flushed", writes);
    describe("noise floor: own mutex beside a writing thread", noise);
    std::printf("uncontended mutex lock+unlock: %.1f ns\n", lock_ns);
    std::printf("ratio mean log / mean write:               %8.3f\n", all.mean() / writes.mean());
    std::printf("ratio p99.9 log / p99.9 write:             %8.3f\n",
                all.percentile(0.999) / writes.percentile(0.999));
    std::printf("ratio longest log / longest write:         %8.3f\n", all.longest / writes.longest);
    std::printf("ratio longest log / longest of noise floor: %7.3f\n", all.longest / noise.longest);

    std::filesystem::current_path(previous);
    return 0;
}
