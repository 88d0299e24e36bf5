// Measures the proactor from tav::make_proactor on two loads, each against a baseline measured in the same
// run:
// - a 64-byte ping-pong echo over loopback, at 1 and at 50 connections, served by tav::acceptor and
//   tav::aio_socket_stream sessions with the event loop on 1 and on 2 threads, and by a plain
//   single-threaded, level-triggered epoll server written here. The same client drives both: one thread
//   with its own epoll keeps every connection sending 64 bytes and waiting for them to come back, and
//   checks that each reply is exactly the request;
// - commands posted with tav::post_call from one thread and delivered by one event loop thread.
//
// Floors: at 50 connections the proactor on 1 thread reaches half the round trips of the epoll server,
// and at least 1,000,000 posted commands are delivered per second. Exits 1 when a floor is missed and 2
// when something fails (a wrong echo, a stalled connection, a server that cannot start). The machine may
// be shared: a figure measured while other processes kept cores busy is named in a warning.
//
// Usage: aio_bench [--seconds S] [--warmup S]: each figure is measured for S seconds (default 2) after
// a warm-up (default 0.5).

#include <tav/acceptor.hpp>
#include <tav/aio_cmd.hpp>
#include <tav/aio_socket_stream.hpp>

#include <support/event_loop.hpp>

#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>
#include <ace/Proactor.h>

#include <boost/intrusive_ptr.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;
using event_loop::drain;
using event_loop::eventually;
using event_loop::loop_threads;
using event_loop::plain_target;

constexpr std::size_t message_size = 64;
constexpr std::uint64_t max_outstanding_commands = 100000;
constexpr double echo_floor = 0.5;
constexpr double command_floor = 1e6;

double seconds_between(clock_type::time_point from, clock_type::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string error_text(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// When a run measures: `warmup` seconds that do not count, then `measured` seconds that do.
struct timing {
    double warmup = 0.5;
    double measured = 2.0;
};

// CPU time used so far by the whole machine (steal included) and by this process, in seconds.
struct cpu_times {
    double machine = 0;
    double own = 0;

    static cpu_times now() {
        cpu_times t;
        std::ifstream stat("/proc/stat");
        std::string cpu;
        unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                           steal = 0;
        if (stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal)
            t.machine = static_cast<double>(user + nice + system + irq + softirq + steal) /
                        static_cast<double>(::sysconf(_SC_CLK_TCK));
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        for (const timeval& tv : {usage.ru_utime, usage.ru_stime})
            t.own += static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
        return t;
    }
};

// The number of events counted over a measured stretch of time, and how many cores other processes kept
// busy meanwhile: on a shared machine that tells a disturbed figure.
class rate_meter {
public:
    explicit rate_meter(const timing& t)
        : begin_(clock_type::now()), measure_from_(begin_ + std::chrono::duration_cast<clock_type::duration>(
                                                                std::chrono::duration<double>(t.warmup))),
          until_(measure_from_ + std::chrono::duration_cast<clock_type::duration>(
                                     std::chrono::duration<double>(t.measured))) {}

    // Looks at the clock and the running count; true once the measured stretch is over.
    bool update(std::uint64_t count) {
        const auto now = clock_type::now();
        if (!measuring_ && now >= measure_from_) {
            measuring_ = true;
            first_ = count;
            started_ = now;
            cpu_ = cpu_times::now();
        }
        if (measuring_ && now >= until_) {
            const double elapsed = seconds_between(started_, now);
            const cpu_times cpu = cpu_times::now();
            per_second_ = static_cast<double>(count - first_) / elapsed;
            other_cores_ = std::max(0.0, (cpu.machine - cpu_.machine) - (cpu.own - cpu_.own)) / elapsed;
            return true;
        }
        return false;
    }
    double per_second() const { return per_second_; }
    double other_cores() const { return other_cores_; }

private:
    clock_type::time_point begin_;
    clock_type::time_point measure_from_;
    clock_type::time_point until_;
    clock_type::time_point started_;
    bool measuring_ = false;
    std::uint64_t first_ = 0;
    cpu_times cpu_;
    double per_second_ = 0;
    double other_cores_ = 0;
};

// A descriptor closed when it goes out of scope.
class fd_guard {
public:
    explicit fd_guard(int fd = -1) : fd_(fd) {}
    fd_guard(const fd_guard&) = delete;
    fd_guard& operator=(const fd_guard&) = delete;
    ~fd_guard() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

sockaddr_in loopback_address(unsigned short port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// Both servers send each echo as soon as it is read; small replies must not wait for acknowledgements.
void no_delay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool would_block(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Events per second of one run, the cores other processes kept busy meanwhile, and what went wrong.
struct measurement {
    double per_second = 0;
    double other_cores = 0;
    std::string failure;
};

// ---------------------------------------------------------------------------------------------------------
// The client driver.

// One client connection with the request in flight and the part of its reply that has come back.
struct client {
    client() = default;
    client(const client&) = delete;
    client& operator=(const client&) = delete;
    ~client() {
        if (fd >= 0)
            ::close(fd);
    }

    int fd = -1;
    std::uint32_t id = 0;
    std::uint64_t round = 0;
    char request[message_size] = {};
    std::size_t sent = 0;
    char reply[message_size] = {};
    std::size_t received = 0;
    bool waiting_to_send = false;
};

// Each request names its connection and round, so an echo of another connection's bytes, of an earlier
// round or of bytes in the wrong order does not match.
void fill_request(client& c) {
    std::memcpy(c.request, &c.id, sizeof c.id);
    std::memcpy(c.request + sizeof c.id, &c.round, sizeof c.round);
    for (std::size_t i = sizeof c.id + sizeof c.round; i < message_size; ++i)
        c.request[i] = static_cast<char>(c.round * 7 + std::uint64_t{c.id} * 13 + i);
    c.sent = 0;
    c.received = 0;
}

class client_driver {
public:
    client_driver(unsigned short port, int connections) : port_(port), clients_(connections) {}

    // Drives the connections for the warm-up and the measured time.
    measurement run(const timing& t) {
        measurement figures;
        if (!connect_all() || !send_first_requests()) {
            figures.failure = failure_;
            return figures;
        }
        rate_meter meter(t);
        std::uint64_t last_count = 0;
        auto last_progress = clock_type::now();
        epoll_event events[64];
        for (;;) {
            int n = ::epoll_wait(epoll_.get(), events, 64, 100);
            if (n < 0 && errno != EINTR) {
                figures.failure = error_text("client epoll_wait");
                return figures;
            }
            for (int i = 0; i < n; ++i) {
                client& c = clients_[events[i].data.u32];
                if ((events[i].events & EPOLLOUT) && !send_rest(c)) {
                    figures.failure = failure_;
                    return figures;
                }
                if ((events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP)) && !receive(c)) {
                    figures.failure = failure_;
                    return figures;
                }
            }
            if (meter.update(round_trips_))
                break;
            if (round_trips_ != last_count) {
                last_count = round_trips_;
                last_progress = clock_type::now();
            } else if (clock_type::now() - last_progress > 5s) {
                figures.failure = "no reply for 5 s";
                return figures;
            }
        }
        figures.per_second = meter.per_second();
        figures.other_cores = meter.other_cores();
        return figures;
    }

private:
    bool fail(const std::string& why) {
        failure_ = why;
        return false;
    }

    bool connect_all() {
        epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
        if (epoll_.get() < 0)
            return fail(error_text("client epoll_create1"));
        const sockaddr_in addr = loopback_address(port_);
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            client& c = clients_[i];
            c.id = static_cast<std::uint32_t>(i);
            c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (c.fd < 0 || ::connect(c.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
                return fail(error_text("client connect"));
            no_delay(c.fd);
            int flags = ::fcntl(c.fd, F_GETFL);
            if (flags < 0 || ::fcntl(c.fd, F_SETFL, flags | O_NONBLOCK) != 0)
                return fail(error_text("client fcntl"));
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u32 = c.id;
            if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, c.fd, &ev) != 0)
                return fail(error_text("client epoll_ctl"));
        }
        return true;
    }

    bool send_first_requests() {
        for (client& c : clients_) {
            fill_request(c);
            if (!send_rest(c))
                return false;
        }
        return true;
    }

    bool watch(client& c, bool sending) {
        epoll_event ev{};
        ev.events = EPOLLIN | (sending ? unsigned{EPOLLOUT} : 0U);
        ev.data.u32 = c.id;
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, c.fd, &ev) != 0)
            return fail(error_text("client epoll_ctl"));
        c.waiting_to_send = sending;
        return true;
    }

    // Sends what is left of the request; waits for room when the socket is full.
    bool send_rest(client& c) {
        while (c.sent < message_size) {
            ssize_t n = ::send(c.fd, c.request + c.sent, message_size - c.sent, MSG_NOSIGNAL);
            if (n > 0) {
                c.sent += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && would_block(errno)) {
                return c.waiting_to_send || watch(c, true);
            } else {
                return fail(error_text("client send on connection " + std::to_string(c.id)));
            }
        }
        return !c.waiting_to_send || watch(c, false);
    }

    // Reads what has come of the reply; a complete one is checked and answered with the next request.
    bool receive(client& c) {
        ssize_t n = ::recv(c.fd, c.reply + c.received, message_size - c.received, 0);
        if (n == 0)
            return fail("the server closed connection " + std::to_string(c.id));
        if (n < 0)
            return errno == EINTR || would_block(errno) ||
                   fail(error_text("client recv on connection " + std::to_string(c.id)));
        c.received += static_cast<std::size_t>(n);
        if (c.received < message_size)
            return true;
        if (c.sent < message_size || std::memcmp(c.request, c.reply, message_size) != 0)
            return fail("connection " + std::to_string(c.id) + ", round " + std::to_string(c.round) +
                        ": the echo differs from the request");
        ++round_trips_;
        ++c.round;
        fill_request(c);
        return send_rest(c);
    }

    unsigned short port_;
    fd_guard epoll_;
    std::vector<client> clients_;
    std::uint64_t round_trips_ = 0;
    std::string failure_;
};

// ---------------------------------------------------------------------------------------------------------
// The baseline: a single-threaded echo server on level-triggered epoll with non-blocking sockets.

class epoll_echo_server {
public:
    epoll_echo_server() = default;
    epoll_echo_server(const epoll_echo_server&) = delete;
    epoll_echo_server& operator=(const epoll_echo_server&) = delete;
    ~epoll_echo_server() { stop(); }

    bool start(std::string& failure) {
        listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        sockaddr_in addr = loopback_address(0);
        socklen_t length = sizeof addr;
        if (listener_.get() < 0 ||
            ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_.get(), 128) != 0 ||
            ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            failure = error_text("epoll server listen");
            return false;
        }
        port_ = ntohs(addr.sin_port);
        epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
        stop_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (epoll_.get() < 0 || stop_.get() < 0 || !watch(listener_.get(), EPOLL_CTL_ADD, EPOLLIN) ||
            !watch(stop_.get(), EPOLL_CTL_ADD, EPOLLIN)) {
            failure = error_text("epoll server setup");
            return false;
        }
        thread_ = std::thread([this] { run(); });
        return true;
    }

    unsigned short port() const { return port_; }

    void stop() {
        if (!thread_.joinable())
            return;
        std::uint64_t one = 1;
        ssize_t n = ::write(stop_.get(), &one, sizeof one);
        (void)n;
        thread_.join();
    }

private:
    bool watch(int fd, int how, unsigned events) {
        epoll_event ev{};
        ev.events = events;
        ev.data.fd = fd;
        return ::epoll_ctl(epoll_.get(), how, fd, &ev) == 0;
    }

    void run() {
        epoll_event events[64];
        char buffer[16384];
        for (;;) {
            int n = ::epoll_wait(epoll_.get(), events, 64, -1);
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == stop_.get()) {
                    close_all();
                    return;
                }
                if (fd == listener_.get()) {
                    accept_all();
                    continue;
                }
                if ((events[i].events & EPOLLOUT) && !flush(fd))
                    continue;
                if (events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP))
                    echo(fd, buffer, sizeof buffer);
            }
        }
    }

    void accept_all() {
        for (;;) {
            int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            no_delay(fd);
            if (!watch(fd, EPOLL_CTL_ADD, EPOLLIN)) {
                ::close(fd);
                continue;
            }
            if (static_cast<std::size_t>(fd) >= pending_.size())
                pending_.resize(static_cast<std::size_t>(fd) + 1);
            open_.push_back(fd);
        }
    }

    // Sends back what one read brings; what the socket cannot take now waits for EPOLLOUT.
    void echo(int fd, char* buffer, std::size_t size) {
        ssize_t n = ::recv(fd, buffer, size, 0);
        if (n < 0 && (errno == EINTR || would_block(errno)))
            return;
        if (n <= 0) {
            close_one(fd);
            return;
        }
        std::string& pending = pending_[static_cast<std::size_t>(fd)];
        if (!pending.empty()) {
            pending.append(buffer, static_cast<std::size_t>(n));
            return;
        }
        ssize_t sent = ::send(fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
        if (sent < 0 && !would_block(errno)) {
            close_one(fd);
            return;
        }
        sent = std::max<ssize_t>(sent, 0);
        if (sent < n) {
            pending.assign(buffer + sent, static_cast<std::size_t>(n - sent));
            watch(fd, EPOLL_CTL_MOD, EPOLLIN | EPOLLOUT);
        }
    }

    // Sends waiting output; false when the connection was closed.
    bool flush(int fd) {
        std::string& pending = pending_[static_cast<std::size_t>(fd)];
        ssize_t sent = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
        if (sent < 0 && !would_block(errno)) {
            close_one(fd);
            return false;
        }
        pending.erase(0, static_cast<std::size_t>(std::max<ssize_t>(sent, 0)));
        if (pending.empty())
            watch(fd, EPOLL_CTL_MOD, EPOLLIN);
        return true;
    }

    void close_one(int fd) {
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        pending_[static_cast<std::size_t>(fd)].clear();
        open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
    }

    void close_all() {
        for (int fd : open_)
            ::close(fd);
        open_.clear();
    }

    fd_guard listener_;
    fd_guard epoll_;
    fd_guard stop_;
    unsigned short port_ = 0;
    std::thread thread_;
    std::vector<std::string> pending_;
    std::vector<int> open_;
};

// ---------------------------------------------------------------------------------------------------------
// The echo server on the proactor.

using stream_ptr = boost::intrusive_ptr<tav::aio_socket_stream>;

// A session that is its own stream, input handler and writer: every byte read is copied into a new block
// and written back; the block is released once the write has finished or failed.
class echo_session : public tav::aio_socket_stream,
                     public tav::session,
                     public tav::aio_socket_stream::handler,
                     public tav::aio_socket_stream::writer {
public:
    bool open_session(ACE_HANDLE handle, ACE_Message_Block& initial_data, ACE_Proactor* proactor,
                      const ACE_INET_Addr& remote, const ACE_INET_Addr& local) override {
        no_delay(handle);
        if (!open(handle, initial_data, proactor, remote, local))
            return false;
        // From here on the stream owns the socket; a failure to start shows as a silent connection.
        set_handler(this);
        if (start_reading() != tav::aio_error::ok)
            ++errors;
        return true;
    }

    void close_session() override { shutdown(); }

    bool handle_input(const stream_ptr& stream) override {
        ACE_Message_Block& in = stream->input_buffer();
        const std::size_t n = in.length();
        if (n == 0)
            return true;
        auto* copy = new ACE_Message_Block(n);
        copy->copy(in.rd_ptr(), n);
        in.rd_ptr(n);
        if (stream->write(copy, this, copy) != tav::aio_error::ok) {
            copy->release();
            ++errors;
        }
        return true;
    }

    void handle_input_error(const stream_ptr& /*stream*/, const tav::aio_error& /*error*/) override {}
    void handle_close(const stream_ptr& /*stream*/) override {}

    void handle_written(const stream_ptr& /*stream*/, const void* act) override { release(act); }
    void handle_write_error(const stream_ptr& /*stream*/, const void* act,
                            const tav::aio_error& /*error*/) override {
        release(act);
    }

    // Echoes that could not be started.
    std::atomic<int> errors{0};

protected:
    ~echo_session() override = default;

private:
    static void release(const void* act) {
        static_cast<ACE_Message_Block*>(const_cast<void*>(act))->release();
    }
};

using session_ptr = boost::intrusive_ptr<echo_session>;

// Keeps every session it creates, so that they can be closed and waited for at the end.
class echo_manager : public tav::session_manager {
public:
    boost::intrusive_ptr<tav::session> create_session() override {
        session_ptr s(new echo_session);
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_.push_back(s);
        return s;
    }

    void session_failed(const boost::intrusive_ptr<tav::session>& s) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                       [&](const session_ptr& p) { return p.get() == s.get(); }),
                        sessions_.end());
    }

    std::vector<session_ptr> sessions() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sessions_;
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<session_ptr> sessions_;
};

class proactor_echo_server {
public:
    explicit proactor_echo_server(unsigned threads)
        : proactor_(tav::make_proactor(threads)), loops_(proactor_.get(), threads) {}
    proactor_echo_server(const proactor_echo_server&) = delete;
    proactor_echo_server& operator=(const proactor_echo_server&) = delete;
    ~proactor_echo_server() {
        std::string ignored;
        stop(ignored);
    }

    bool start(std::string& failure) {
        if (!proactor_) {
            failure = "make_proactor failed";
            return false;
        }
        acceptor_ = new tav::acceptor;
        if (!acceptor_->start(ACE_INET_Addr(static_cast<u_short>(0), "127.0.0.1"), &manager_, proactor_.get(),
                              64, true)) {
            acceptor_.reset();
            failure = error_text("acceptor start");
            return false;
        }
        return true;
    }

    unsigned short port() const { return acceptor_->address().get_port_number(); }

    // Closes every session, waits for the streams to close and the loop to deliver what is left, then
    // stops the loop threads. False, with the reason, when something did not finish or an echo failed.
    bool stop(std::string& failure) {
        if (!acceptor_)
            return true;
        acceptor_->stop();
        const std::vector<session_ptr> sessions = manager_.sessions();
        for (const session_ptr& s : sessions)
            s->close_session();
        bool closed = eventually([&] {
            return std::all_of(sessions.begin(), sessions.end(), [](const session_ptr& s) {
                return s->status() == tav::aio_socket_stream::closed;
            });
        });
        bool drained = drain(proactor_.get());
        loops_.stop();
        int errors = 0;
        for (const session_ptr& s : sessions)
            errors += s->errors;
        manager_.clear();
        acceptor_.reset();
        if (!closed)
            failure = "sessions did not close within 10 s";
        else if (!drained)
            failure = "the proactor did not drain within 10 s";
        else if (errors != 0)
            failure = std::to_string(errors) + " echoes could not be started";
        return closed && drained && errors == 0;
    }

private:
    std::unique_ptr<ACE_Proactor> proactor_;
    loop_threads loops_;
    echo_manager manager_;
    boost::intrusive_ptr<tav::acceptor> acceptor_;
};

// ---------------------------------------------------------------------------------------------------------
// The runs.

measurement epoll_echo(int connections, const timing& t) {
    epoll_echo_server server;
    measurement figures;
    if (!server.start(figures.failure))
        return figures;
    figures = client_driver(server.port(), connections).run(t);
    server.stop();
    return figures;
}

measurement proactor_echo(unsigned threads, int connections, const timing& t) {
    proactor_echo_server server(threads);
    measurement figures;
    if (!server.start(figures.failure))
        return figures;
    {
        client_driver driver(server.port(), connections);
        figures = driver.run(t);
    }
    // The clients have closed their sockets; the sessions close on their end of stream.
    std::string failure;
    if (!server.stop(failure) && figures.failure.empty())
        figures.failure = failure;
    return figures;
}

// Commands delivered per second while one thread posts and one event loop thread delivers them.
measurement posted_commands(const timing& t) {
    measurement figures;
    std::unique_ptr<ACE_Proactor> proactor(tav::make_proactor(1));
    if (!proactor) {
        figures.failure = "make_proactor failed";
        return figures;
    }
    loop_threads loops(proactor.get(), 1);
    boost::intrusive_ptr<tav::aio_cmd_handler> target(new plain_target(proactor.get()));
    std::atomic<std::uint64_t> delivered{0};
    std::atomic<std::uint64_t>* counter = &delivered;
    std::uint64_t posted = 0;
    rate_meter meter(t);
    try {
        for (;;) {
            // Every 256 posts: posting waits while the loop is far behind, so the queue stays bounded, and
            // the clock is read. Reading the counter more often would take its cache line from the loop.
            if (posted % 256 == 0) {
                while (posted - delivered.load(std::memory_order_relaxed) >= max_outstanding_commands)
                    std::this_thread::yield();
                if (meter.update(delivered.load(std::memory_order_relaxed)))
                    break;
            }
            tav::post_call(target, [counter] { counter->fetch_add(1, std::memory_order_relaxed); });
            ++posted;
        }
    } catch (const std::exception& e) {
        figures.failure = std::string("post_call: ") + e.what();
    }
    if (!eventually([&] { return delivered.load() == posted; }) && figures.failure.empty())
        figures.failure = std::to_string(posted - delivered.load()) + " posted commands were not delivered";
    figures.per_second = meter.per_second();
    figures.other_cores = meter.other_cores();
    return figures;
}

bool parse_seconds(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0;
}

} // namespace

int main(int argc, char** argv) {
    timing t;
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        const bool valued = i + 1 < argc;
        const bool known =
            (option == "--seconds" && valued && parse_seconds(argv[i + 1], t.measured) && t.measured > 0) ||
            (option == "--warmup" && valued && parse_seconds(argv[i + 1], t.warmup));
        if (!known) {
            std::fprintf(stderr, "usage: %s [--seconds S] [--warmup S]\n", argv[0]);
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::string command = argv[0];
    for (int i = 1; i < argc; ++i)
        command += std::string(" ") + argv[i];
    std::printf("command: %s\n", command.c_str());
    std::printf("64-byte ping-pong echo over 127.0.0.1, %.1f s warm-up then %.1f s measured per figure\n",
                t.warmup, t.measured);
    std::fflush(stdout);

    struct row {
        int connections;
        measurement epoll, ours1, ours2;
    };
    std::vector<row> rows{{1, {}, {}, {}}, {50, {}, {}, {}}};
    for (row& r : rows) {
        r.epoll = epoll_echo(r.connections, t);
        r.ours1 = proactor_echo(1, r.connections, t);
        r.ours2 = proactor_echo(2, r.connections, t);
    }
    const measurement commands = posted_commands(t);

    std::printf("\nround trips/s\n");
    std::printf("%11s  %14s  %14s  %15s  %15s  %15s\n", "connections", "epoll baseline", "ours, 1 thread",
                "ours, 2 threads", "ours 1t / epoll", "ours 2t / epoll");
    for (const row& r : rows) {
        std::printf("%11d  %14.0f  %14.0f  %15.0f  %15.3f  %15.3f\n", r.connections, r.epoll.per_second,
                    r.ours1.per_second, r.ours2.per_second, r.ours1.per_second / r.epoll.per_second,
                    r.ours2.per_second / r.epoll.per_second);
    }
    std::printf("\nposted commands delivered: %.0f/s (1 posting thread, 1 event loop thread, at most %llu "
                "outstanding)\n",
                commands.per_second, static_cast<unsigned long long>(max_outstanding_commands));

    std::vector<std::pair<std::string, const measurement*>> all;
    for (const row& r : rows) {
        const std::string at =
            " at " + std::to_string(r.connections) + (r.connections == 1 ? " connection" : " connections");
        all.emplace_back("epoll baseline" + at, &r.epoll);
        all.emplace_back("ours on 1 thread" + at, &r.ours1);
        all.emplace_back("ours on 2 threads" + at, &r.ours2);
    }
    all.emplace_back("posted commands", &commands);
    bool failed = false;
    for (const auto& [what, figures] : all) {
        if (figures->other_cores > 0.2)
            std::printf("warning: other processes kept %.2f cores busy while measuring %s; repeat the run\n",
                        figures->other_cores, what.c_str());
        if (!figures->failure.empty()) {
            std::printf("FAILED: %s: %s\n", what.c_str(), figures->failure.c_str());
            failed = true;
        }
    }
    if (failed)
        return 2;

    const row& busy = rows.back();
    const double ratio = busy.ours1.per_second / busy.epoll.per_second;
    const bool echo_met = ratio >= echo_floor;
    const bool commands_met = commands.per_second >= command_floor;
    std::printf("\nfloor: at %d connections ours on 1 thread >= %.2f x epoll: %.3f, %s\n", busy.connections,
                echo_floor, ratio, echo_met ? "met" : "MISSED");
    std::printf("floor: posted commands >= %.0f/s: %.0f/s, %s\n", command_floor, commands.per_second,
                commands_met ? "met" : "MISSED");
    return echo_met && commands_met ? 0 : 1;
}
