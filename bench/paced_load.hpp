#pragma once

// Requests through a forward proxy at a fixed rate, as browsers make them: a few threads, each with
// keep-alive connections of its own and its share of one schedule. A request that finds all of its thread's
// connections busy waits for one, and its latency counts from the time it was due, so that a proxy falling
// behind shows in the latencies instead of slowing the load down. Every answer must be 200 with the whole
// body, within 30 seconds.

#include "counted_body.hpp"

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace bench {

// One answer that the load asks for: the absolute URL sent to the proxy and the size of its body.
struct load_target {
    std::string url;
    std::size_t size;
};

// How the requests went since the last look.
struct load_tally {
    long done = 0;                     // answered with 200 and the whole body
    long failed = 0;                   // another status, a short body, a broken connection or no answer
    std::vector<double> latencies_ms;  // of the requests done, each from the time it was due
    std::vector<std::string> failures; // what went wrong, the first ten of each thread

    void add(load_tally&& more) {
        done += more.done;
        failed += more.failed;
        latencies_ms.insert(latencies_ms.end(), more.latencies_ms.begin(), more.latencies_ms.end());
        failures.insert(failures.end(), more.failures.begin(), more.failures.end());
    }
};

class paced_load {
public:
    // `rate` requests a second in all, over `threads` threads of `connections` connections each, to the
    // proxy on 127.0.0.1:`proxy_port`; the n-th request of the schedule asks for targets[n % size].
    paced_load(int proxy_port, const std::vector<load_target>& targets, double rate, int threads,
               int connections)
        : proxy_(boost::asio::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(proxy_port)),
          rate_(rate) {
        for (const load_target& target : targets) {
            const std::size_t host = target.url.find("//") + 2;
            requests_.push_back("GET " + target.url + " HTTP/1.1\r\nHost: " +
                                target.url.substr(host, target.url.find('/', host) - host) +
                                "\r\nUser-Agent: soak\r\nAccept: */*\r\n\r\n");
            sizes_.push_back(target.size);
        }
        for (int i = 0; i < threads; ++i) {
            lanes_.push_back(std::make_unique<lane>());
            lanes_.back()->index = i;
            for (int c = 0; c < connections; ++c)
                lanes_.back()->connections.push_back(std::make_unique<connection>(lanes_.back()->io));
        }
    }
    paced_load(const paced_load&) = delete;
    paced_load& operator=(const paced_load&) = delete;
    ~paced_load() { finish(std::chrono::seconds(0)); }

    // Opens the connections and starts the schedule.
    void start() {
        begin_ = clock::now();
        for (const auto& l : lanes_) {
            lane& on = *l;
            boost::asio::post(on.io, [this, &on] {
                for (const auto& c : on.connections)
                    open(on, *c);
                schedule(on);
            });
            on.thread = std::thread([&on] {
                on.io.run();
                on.idle = true;
            });
        }
    }

    // What was done since the last call.
    load_tally take() {
        load_tally all;
        for (const auto& l : lanes_) {
            const std::lock_guard<std::mutex> lock(l->mutex);
            all.add(std::move(l->counted));
            l->counted = load_tally();
        }
        return all;
    }

    // Ends the schedule and waits up to `grace` for the requests that were due; those still waiting or
    // in flight then count as failed.
    void finish(std::chrono::steady_clock::duration grace) {
        if (finished_)
            return;
        finished_ = true;
        for (const auto& l : lanes_) {
            lane& on = *l;
            boost::asio::post(on.io, [this, &on] {
                on.stopping = true;
                on.timer.cancel();
                dispatch(on);
            });
        }
        const clock::time_point until = clock::now() + grace;
        for (const auto& l : lanes_)
            while (!l->idle && clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const auto& l : lanes_) {
            l->io.stop();
            if (l->thread.joinable())
                l->thread.join();
            long left = static_cast<long>(l->waiting.size());
            for (const auto& c : l->connections)
                left += c->asked ? 1 : 0;
            if (left > 0)
                record(*l, false, 0, std::to_string(left) + " requests not answered at the end");
        }
    }

private:
    using clock = std::chrono::steady_clock;
    using parser = boost::beast::http::response_parser<counted_body>;

    struct due_request {
        clock::time_point due;
        std::size_t target;
    };
    struct connection {
        // Answers are read up to 64 KiB at a time, not the half kilobyte that an empty buffer would take.
        explicit connection(boost::asio::io_context& io) : stream(io) { buffer.reserve(64 * 1024); }
        boost::beast::tcp_stream stream;
        bool open = false;
        bool busy = false;                // connecting, or a request in flight
        std::optional<due_request> asked; // the request in flight
        clock::time_point sent;           // when it was sent
        boost::beast::flat_buffer buffer;
        std::optional<parser> answer;
    };
    struct lane {
        int index = 0;
        boost::asio::io_context io;
        boost::asio::steady_timer timer{io};
        std::vector<std::unique_ptr<connection>> connections;
        std::size_t turn = 0; // the connection to try first, so that all of them stay in use
        std::deque<due_request> waiting;
        long next = 0; // this lane's next request in the schedule
        bool stopping = false;
        std::atomic<bool> idle{false}; // the lane's thread has ended
        std::mutex mutex;              // guards counted
        load_tally counted;
        std::thread thread;
    };

    // The place of lane `l`'s k-th request in the whole schedule, and when it is due.
    long overall(const lane& l, long k) const { return k * static_cast<long>(lanes_.size()) + l.index; }
    clock::time_point due(const lane& l, long k) const {
        return begin_ + std::chrono::duration_cast<clock::duration>(
                            std::chrono::duration<double>(overall(l, k) / rate_));
    }

    void schedule(lane& l) {
        if (l.stopping)
            return;
        const clock::time_point now = clock::now();
        for (; due(l, l.next) <= now; ++l.next)
            l.waiting.push_back(
                {due(l, l.next), static_cast<std::size_t>(overall(l, l.next)) % requests_.size()});
        dispatch(l);
        l.timer.expires_at(due(l, l.next));
        l.timer.async_wait([this, &l](const boost::system::error_code& error) {
            if (!error)
                schedule(l);
        });
    }

    // Hands the waiting requests to the free connections, opening those that were closed.
    void dispatch(lane& l) {
        const std::size_t count = l.connections.size();
        const std::size_t first = l.turn;
        for (std::size_t i = 0; i < count && !l.waiting.empty(); ++i) {
            connection& c = *l.connections[(first + i) % count];
            if (c.busy)
                continue;
            if (!c.open) {
                open(l, c);
                continue;
            }
            send(l, c);
            l.turn = (first + i + 1) % count;
        }
    }

    void open(lane& l, connection& c) {
        c.busy = true;
        c.stream.expires_after(std::chrono::seconds(10));
        c.stream.async_connect(proxy_, [this, &l, &c](const boost::system::error_code& error) {
            c.busy = false;
            c.open = !error;
            if (error) {
                close(c);
                // The request next in line fails in its place, so that a proxy that is gone ends the waiting.
                if (!l.waiting.empty()) {
                    l.waiting.pop_front();
                    record(l, false, 0, "cannot connect to the proxy: " + error.message());
                }
            }
            dispatch(l);
        });
    }

    void send(lane& l, connection& c) {
        c.busy = true;
        c.asked = l.waiting.front();
        c.sent = clock::now();
        l.waiting.pop_front();
        c.answer.emplace();
        c.answer->body_limit(sizes_[c.asked->target] + 1);
        c.stream.expires_after(std::chrono::seconds(30));
        boost::asio::async_write(c.stream, boost::asio::buffer(requests_[c.asked->target]),
                                 [this, &l, &c](const boost::system::error_code& error, std::size_t) {
                                     if (error)
                                         answered(l, c, error);
                                     else
                                         read_answer(l, c);
                                 });
    }

    void read_answer(lane& l, connection& c) {
        boost::beast::http::async_read(
            c.stream, c.buffer, *c.answer,
            [this, &l, &c](const boost::system::error_code& error, std::size_t) { answered(l, c, error); });
    }

    void answered(lane& l, connection& c, const boost::system::error_code& error) {
        const std::chrono::duration<double, std::milli> latency = clock::now() - c.asked->due;
        const std::string failure = error ? broken(c, error) : wrong(c);
        record(l, failure.empty(), latency.count(), failure);
        const bool keep = !error && c.answer->keep_alive();
        c.asked.reset();
        c.answer.reset();
        c.busy = false;
        if (!keep)
            close(c);
        dispatch(l);
    }

    static void close(connection& c) {
        boost::system::error_code ignored;
        c.stream.socket().close(ignored);
        c.buffer.clear();
        c.open = false;
    }

    // The URL of the request in flight.
    std::string url(const connection& c) const {
        const std::string& request = requests_[c.asked->target];
        return request.substr(4, request.find(' ', 4) - 4);
    }

    // What is wrong with a whole answer, or "".
    std::string wrong(const connection& c) const {
        const auto& got = c.answer->get();
        const std::size_t size = sizes_[c.asked->target];
        if (got.result_int() != 200)
            return url(c) + ": status " + std::to_string(got.result_int());
        if (got.body() != size)
            return url(c) + ": " + std::to_string(got.body()) + " of " + std::to_string(size) + " bytes";
        return "";
    }

    // How an answer broke off.
    std::string broken(const connection& c, const boost::system::error_code& error) const {
        const std::chrono::duration<double> waited = clock::now() - c.sent;
        const std::string what = url(c) + ": " + error.message() + " " +
                                 std::to_string(std::lround(waited.count())) +
                                 " s after the request was sent, ";
        if (!c.answer->is_header_done())
            return what + "before the answer's head";
        const auto& got = c.answer->get();
        return what + "with status " + std::to_string(got.result_int()) + " and " +
               std::to_string(got.body()) + " of " + std::to_string(sizes_[c.asked->target]) + " bytes";
    }

    void record(lane& l, bool done, double latency_ms, const std::string& failure) {
        const std::lock_guard<std::mutex> lock(l.mutex);
        if (done) {
            ++l.counted.done;
            l.counted.latencies_ms.push_back(latency_ms);
        } else {
            ++l.counted.failed;
            if (l.counted.failures.size() < 10)
                l.counted.failures.push_back(failure);
        }
    }

    const boost::asio::ip::tcp::endpoint proxy_;
    const double rate_;
    std::vector<std::string> requests_; // by target
    std::vector<std::size_t> sizes_;    // by target
    std::vector<std::unique_ptr<lane>> lanes_;
    clock::time_point begin_;
    bool finished_ = false;
};

} // namespace bench
