#include "epoll_proactor.hpp"

#include "gather_write_stream.hpp"
#include "socket_accept.hpp"
#include "socket_connect.hpp"
#include "socket_read_stream.hpp"

#include <ace/Message_Block.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace tav {

namespace {

constexpr std::size_t max_iov = 64;

// Destroys a delivered result, leaving its memory to be freed later, even when its delivery throws.
// Results are plain heap objects made with new; the most derived object starts the block.
struct finish_guard {
    ACE_POSIX_Asynch_Result* result;
    explicit finish_guard(ACE_POSIX_Asynch_Result* r) : result(r) {}
    finish_guard(const finish_guard&) = delete;
    finish_guard& operator=(const finish_guard&) = delete;
    ~finish_guard() { result->~ACE_POSIX_Asynch_Result(); }
};

// Gathers up to `want` unsent bytes of the chain.
std::size_t gather(ACE_Message_Block* block, std::size_t want, iovec* iov) {
    std::size_t count = 0;
    for (; block != nullptr && want > 0 && count < max_iov; block = block->cont()) {
        std::size_t take = std::min(block->length(), want);
        if (take == 0)
            continue;
        iov[count].iov_base = block->rd_ptr();
        iov[count].iov_len = take;
        ++count;
        want -= take;
    }
    return count;
}

// Marks `sent` bytes of the chain as sent. This happens as the bytes leave, under the proactor's lock, so
// that a completion never touches a chain its owner may already have taken back after a cancellation.
void consume(ACE_Message_Block* block, std::size_t sent) {
    for (; block != nullptr && sent > 0; block = block->cont()) {
        std::size_t take = std::min(block->length(), sent);
        block->rd_ptr(take);
        sent -= take;
    }
}

bool would_block(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

epoll_proactor::epoll_proactor()
    : epoll_fd_(::epoll_create1(EPOLL_CLOEXEC)), wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!is_open())
        return;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wake_fd_;
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &ev) != 0) {
        ::close(wake_fd_);
        wake_fd_ = -1;
    }
}

epoll_proactor::~epoll_proactor() {
    epoll_proactor::close();
}

int epoll_proactor::close() {
    spent_memory freed;
    std::deque<ACE_POSIX_Asynch_Result*> dropped;
    {
        std::lock_guard<adaptive_mutex> lock(mutex_);
        for (auto& [fd, d] : descriptors_) {
            for (op& o : d.in)
                dropped.push_back(o.result);
            for (op& o : d.out)
                dropped.push_back(o.result);
        }
        descriptors_.clear();
        dropped.insert(dropped.end(), ready_.begin(), ready_.end());
        ready_.clear();
        collect_spent_locked(freed);
        for (int* fd : {&epoll_fd_, &wake_fd_}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
    for (ACE_POSIX_Asynch_Result* result : dropped)
        delete result;
    return ACE_POSIX_Proactor::close();
}

int epoll_proactor::start(int fd, ACE_POSIX_Asynch_Result* result, op_kind kind, ACE_Message_Block* chain,
                          std::size_t want) {
    op o{fd, result, kind, chain, want, 0};
    spent_memory freed;
    std::lock_guard<adaptive_mutex> lock(mutex_);
    collect_spent_locked(freed);
    if (!is_open()) {
        errno = EBADF;
        return -1;
    }
    descriptor& d = descriptors_[fd];
    bool input = kind == op_kind::read || kind == op_kind::accept;
    std::deque<op>& queue = input ? d.in : d.out;
    bool& ready = input ? d.readable : d.writable;
    // A connect is under way until the socket turns writable.
    if (kind == op_kind::connect)
        ready = false;
    // Only the first operation of a queue may run now; the others keep their order behind it.
    if (queue.empty() && ready) {
        if (perform(o)) {
            // A read that got less than it asked for has drained the socket: the next one waits for epoll,
            // unless the peer's close may still be waiting behind the data.
            if (kind == op_kind::read && result->bytes_transferred() > 0 &&
                result->bytes_transferred() < result->aio_nbytes && !d.may_be_closed)
                ready = false;
            push_ready_locked(result);
            return 0;
        }
        ready = false;
        if (input)
            d.may_be_closed = false;
    }
    if (int error = watch_locked(fd, d); error != 0) {
        errno = error;
        return -1;
    }
    queue.push_back(o);
    return 0;
}

void epoll_proactor::finish(ACE_POSIX_Asynch_Result* result, std::size_t bytes, int error) {
    result->set_bytes_transferred(bytes);
    result->set_error(static_cast<u_long>(error));
    std::lock_guard<adaptive_mutex> lock(mutex_);
    push_ready_locked(result);
}

void epoll_proactor::forget(int fd) {
    std::lock_guard<adaptive_mutex> lock(mutex_);
    auto it = descriptors_.find(fd);
    if (it != descriptors_.end() && it->second.in.empty() && it->second.out.empty())
        descriptors_.erase(it);
}

bool epoll_proactor::perform(op& o) {
    ACE_POSIX_Asynch_Result* r = o.result;
    for (;;) {
        ssize_t n = -1;
        switch (o.kind) {
        case op_kind::read:
            n = ::recv(o.fd, const_cast<void*>(r->aio_buf), r->aio_nbytes, MSG_DONTWAIT);
            if (n >= 0) {
                r->set_bytes_transferred(static_cast<std::size_t>(n));
                r->set_error(0);
                return true;
            }
            break;
        case op_kind::write: {
            iovec iov[max_iov];
            msghdr msg{};
            msg.msg_iov = iov;
            if (o.chain != nullptr) {
                msg.msg_iovlen = gather(o.chain, o.want - o.done, iov);
            } else {
                iov[0].iov_base = static_cast<char*>(const_cast<void*>(r->aio_buf)) + o.done;
                iov[0].iov_len = o.want - o.done;
                msg.msg_iovlen = 1;
            }
            n = ::sendmsg(o.fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n >= 0) {
                o.done += static_cast<std::size_t>(n);
                if (o.chain != nullptr)
                    consume(o.chain, static_cast<std::size_t>(n));
                if (o.done < o.want)
                    continue;
                r->set_bytes_transferred(o.done);
                r->set_error(0);
                return true;
            }
            break;
        }
        case op_kind::accept: {
            int s = ::accept4(o.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (s >= 0) {
                r->aio_fildes = s;
                r->set_bytes_transferred(0);
                r->set_error(0);
                return true;
            }
            // A connection that went away before it was accepted is not an error of the listener.
            if (errno == ECONNABORTED || errno == EPROTO)
                continue;
            break;
        }
        case op_kind::connect: {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(o.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            r->set_bytes_transferred(0);
            r->set_error(static_cast<u_long>(error));
            return true;
        }
        }
        if (errno == EINTR)
            continue;
        if (would_block(errno))
            return false;
        r->set_bytes_transferred(o.done);
        r->set_error(static_cast<u_long>(errno));
        return true;
    }
}

void epoll_proactor::run_queue_locked(descriptor& d, bool input) {
    std::deque<op>& queue = input ? d.in : d.out;
    while (!queue.empty()) {
        if (!perform(queue.front())) {
            (input ? d.readable : d.writable) = false;
            if (input)
                d.may_be_closed = false;
            return;
        }
        push_ready_locked(queue.front().result);
        queue.pop_front();
    }
}

int epoll_proactor::watch_locked(int fd, descriptor& d) {
    if (d.registered)
        return 0;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.fd = fd;
    // EEXIST: the descriptor was forgotten while the same socket stayed registered.
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0 && errno != EEXIST)
        return errno;
    d.registered = true;
    return 0;
}

void epoll_proactor::on_ready_locked(int fd, unsigned events) {
    auto it = descriptors_.find(fd);
    if (it == descriptors_.end())
        return;
    descriptor& d = it->second;
    // Errors and hang-ups complete whatever waits, each operation reporting what it finds.
    if (events & (EPOLLRDHUP | EPOLLERR | EPOLLHUP))
        d.may_be_closed = true;
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) {
        d.readable = true;
        run_queue_locked(d, true);
    }
    if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
        d.writable = true;
        run_queue_locked(d, false);
    }
}

void epoll_proactor::push_ready_locked(ACE_POSIX_Asynch_Result* result) {
    ready_.push_back(result);
    // Only a thread blocked in epoll_wait needs waking; the others look at the queue before they block.
    if (waiting_ > 0 && !woken_) {
        std::uint64_t one = 1;
        ssize_t n = ::write(wake_fd_, &one, sizeof one);
        (void)n;
        woken_ = true;
    }
}

int epoll_proactor::wait(int timeout_ms) {
    using clock = std::chrono::steady_clock;
    // Results are taken a few at a time under one lock; epoll is asked at least every poll_interval
    // results so that a flood of posted results cannot hold back socket I/O.
    constexpr std::size_t batch = 16;
    constexpr unsigned poll_interval = 64;
    auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        ACE_POSIX_Asynch_Result* taken[batch];
        std::size_t count = 0;
        bool block = false;
        {
            std::lock_guard<adaptive_mutex> lock(mutex_);
            if (!ready_.empty() && since_poll_ < poll_interval) {
                while (count < batch && !ready_.empty()) {
                    taken[count++] = ready_.front();
                    ready_.pop_front();
                }
                since_poll_ += static_cast<unsigned>(count);
            } else {
                since_poll_ = 0;
                block = ready_.empty();
                if (block)
                    ++waiting_;
            }
        }
        if (count > 0) {
            void* memory[batch];
            std::size_t done = 0;
            try {
                for (; done < count; ++done) {
                    ACE_POSIX_Asynch_Result* r = taken[done];
                    memory[done] = dynamic_cast<void*>(r);
                    finish_guard finished(r);
                    r->complete(r->bytes_transferred(), r->error() == 0, nullptr, r->error());
                }
            } catch (...) {
                // The failing result is finished; the rest of the batch goes back to the queue's front.
                park(memory, done + 1);
                std::lock_guard<adaptive_mutex> lock(mutex_);
                ready_.insert(ready_.begin(), taken + done + 1, taken + count);
                throw;
            }
            park(memory, count);
            return static_cast<int>(count);
        }
        int left = 0;
        if (block && timeout_ms < 0) {
            left = -1;
        } else if (block) {
            auto rest =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            left = rest > 0 ? static_cast<int>(rest) : 0;
        }
        epoll_event events[64];
        int n = ::epoll_wait(epoll_fd_, events, 64, left);
        int error = errno;
        {
            std::lock_guard<adaptive_mutex> lock(mutex_);
            if (block)
                --waiting_;
            for (int i = 0; i < n; ++i) {
                if (events[i].data.fd != wake_fd_) {
                    on_ready_locked(events[i].data.fd, events[i].events);
                } else {
                    std::uint64_t count_woken = 0;
                    ssize_t r = ::read(wake_fd_, &count_woken, sizeof count_woken);
                    (void)r;
                    woken_ = false;
                }
            }
        }
        if (n < 0 && error != EINTR)
            return -1;
        if (block && n == 0 && left == 0)
            return 0;
    }
}

epoll_proactor::spent_memory::~spent_memory() {
    for (std::size_t i = 0; i < count; ++i)
        ::operator delete(blocks[i]);
}

void epoll_proactor::collect_spent_locked(spent_memory& out) {
    std::copy(spent_.blocks, spent_.blocks + spent_.count, out.blocks);
    out.count = spent_.count;
    spent_.count = 0;
}

void epoll_proactor::park(void* const* memory, std::size_t count) {
    spent_memory overflow;
    std::lock_guard<adaptive_mutex> lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
        if (spent_.count < spent_capacity)
            spent_.blocks[spent_.count++] = memory[i];
        else
            overflow.blocks[overflow.count++] = memory[i];
    }
}

int epoll_proactor::handle_events(ACE_Time_Value& wait_time) {
    return wait(static_cast<int>(std::min<unsigned long>(wait_time.msec(), INT32_MAX)));
}

int epoll_proactor::handle_events() {
    return wait(-1);
}

int epoll_proactor::post_completion(ACE_POSIX_Asynch_Result* result) {
    spent_memory freed;
    std::lock_guard<adaptive_mutex> lock(mutex_);
    collect_spent_locked(freed);
    if (!is_open()) {
        delete result;
        return -1;
    }
    push_ready_locked(result);
    return 0;
}

int epoll_proactor::start_aio(ACE_POSIX_Asynch_Result* result, Opcode op) {
    bool read = op == ACE_OPCODE_READ;
    return start(result->aio_fildes, result, read ? op_kind::read : op_kind::write, nullptr,
                 read ? 0 : result->aio_nbytes);
}

int epoll_proactor::cancel_aio(ACE_HANDLE handle) {
    return cancel(handle, true, true);
}

int epoll_proactor::cancel(ACE_HANDLE handle, bool reads, bool writes) {
    std::lock_guard<adaptive_mutex> lock(mutex_);
    auto it = descriptors_.find(handle);
    if (it == descriptors_.end())
        return 1;
    descriptor& d = it->second;
    bool cancelled = false;
    for (std::deque<op>* queue : {reads ? &d.in : nullptr, writes ? &d.out : nullptr}) {
        if (queue == nullptr)
            continue;
        for (op& o : *queue) {
            o.result->set_bytes_transferred(o.done);
            o.result->set_error(ECANCELED);
            push_ready_locked(o.result);
            cancelled = true;
        }
        queue->clear();
    }
    return cancelled ? 0 : 1;
}

ACE_Asynch_Read_Stream_Impl* epoll_proactor::create_asynch_read_stream() {
    return new (std::nothrow) socket_read_stream(this);
}

ACE_Asynch_Write_Stream_Impl* epoll_proactor::create_asynch_write_stream() {
    return new (std::nothrow) gather_write_stream(this);
}

ACE_Asynch_Accept_Impl* epoll_proactor::create_asynch_accept() {
    return new (std::nothrow) socket_accept(this);
}

ACE_Asynch_Connect_Impl* epoll_proactor::create_asynch_connect() {
    return new (std::nothrow) socket_connect(this);
}

} // namespace tav
