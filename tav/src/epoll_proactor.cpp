#include "epoll_proactor.hpp"

#include "gather_write_stream.hpp"
#include "socket_accept.hpp"
#include "socket_connect.hpp"
#include "socket_read_stream.hpp"

#include <ace/Message_Block.h>

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
    std::deque<ACE_POSIX_Asynch_Result*> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [fd, d] : descriptors_) {
            for (op& o : d.in)
                dropped.push_back(o.result);
            for (op& o : d.out)
                dropped.push_back(o.result);
        }
        descriptors_.clear();
        dropped.insert(dropped.end(), ready_.begin(), ready_.end());
        ready_.clear();
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
    std::lock_guard<std::mutex> lock(mutex_);
    if (!is_open()) {
        errno = EBADF;
        return -1;
    }
    descriptor& d = descriptors_[fd];
    std::deque<op>& queue = (kind == op_kind::read || kind == op_kind::accept) ? d.in : d.out;
    // Only the first operation of a queue may run now; the others keep their order behind it.
    if (queue.empty() && kind != op_kind::connect && perform(o)) {
        push_ready(result);
        update_interest(fd, d);
        return 0;
    }
    queue.push_back(o);
    if (int error = update_interest(fd, d); error != 0) {
        queue.pop_back();
        update_interest(fd, d);
        errno = error;
        return -1;
    }
    return 0;
}

void epoll_proactor::finish(ACE_POSIX_Asynch_Result* result, std::size_t bytes, int error) {
    result->set_bytes_transferred(bytes);
    result->set_error(static_cast<u_long>(error));
    std::lock_guard<std::mutex> lock(mutex_);
    push_ready(result);
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

void epoll_proactor::run_queue(std::deque<op>& queue) {
    while (!queue.empty() && perform(queue.front())) {
        push_ready(queue.front().result);
        queue.pop_front();
    }
}

int epoll_proactor::update_interest(int fd, descriptor& d) {
    unsigned events = (d.in.empty() ? 0u : unsigned{EPOLLIN}) | (d.out.empty() ? 0u : unsigned{EPOLLOUT});
    int error = 0;
    if (events != d.events) {
        epoll_event ev{};
        ev.events = events;
        ev.data.fd = fd;
        int how = events == 0 ? EPOLL_CTL_DEL : d.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
        if (::epoll_ctl(epoll_fd_, how, fd, &ev) != 0 && !(how == EPOLL_CTL_DEL && errno == EBADF))
            error = errno;
        else
            d.events = events;
    }
    if (d.in.empty() && d.out.empty())
        descriptors_.erase(fd);
    return error;
}

void epoll_proactor::on_ready(int fd, unsigned events) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = descriptors_.find(fd);
    if (it == descriptors_.end())
        return;
    descriptor& d = it->second;
    // Errors and hang-ups complete whatever waits, each operation reporting what it finds.
    if (events & (EPOLLIN | EPOLLERR | EPOLLHUP))
        run_queue(d.in);
    if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))
        run_queue(d.out);
    update_interest(fd, d);
}

void epoll_proactor::push_ready(ACE_POSIX_Asynch_Result* result) {
    if (ready_.empty()) {
        std::uint64_t one = 1;
        ssize_t n = ::write(wake_fd_, &one, sizeof one);
        (void)n;
    }
    ready_.push_back(result);
}

ACE_POSIX_Asynch_Result* epoll_proactor::pop_ready() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ready_.empty())
        return nullptr;
    ACE_POSIX_Asynch_Result* result = ready_.front();
    ready_.pop_front();
    // The wake-up descriptor stays readable exactly while results wait.
    if (ready_.empty()) {
        std::uint64_t count = 0;
        ssize_t n = ::read(wake_fd_, &count, sizeof count);
        (void)n;
    }
    return result;
}

int epoll_proactor::wait(int timeout_ms) {
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (ACE_POSIX_Asynch_Result* result = pop_ready()) {
            std::unique_ptr<ACE_POSIX_Asynch_Result> owner(result);
            result->complete(result->bytes_transferred(), result->error() == 0, nullptr, result->error());
            return 1;
        }
        int left = -1;
        if (timeout_ms >= 0) {
            auto rest =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            left = rest > 0 ? static_cast<int>(rest) : 0;
        }
        epoll_event events[64];
        int n = ::epoll_wait(epoll_fd_, events, 64, left);
        if (n < 0 && errno != EINTR)
            return -1;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd != wake_fd_)
                on_ready(events[i].data.fd, events[i].events);
        }
        if (n == 0 && left == 0)
            return 0;
    }
}

int epoll_proactor::handle_events(ACE_Time_Value& wait_time) {
    return wait(static_cast<int>(std::min<unsigned long>(wait_time.msec(), INT32_MAX)));
}

int epoll_proactor::handle_events() {
    return wait(-1);
}

int epoll_proactor::post_completion(ACE_POSIX_Asynch_Result* result) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!is_open()) {
        delete result;
        return -1;
    }
    push_ready(result);
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
    std::lock_guard<std::mutex> lock(mutex_);
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
            push_ready(o.result);
            cancelled = true;
        }
        queue->clear();
    }
    update_interest(handle, d);
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
