#include <tav/aio_socket_stream.hpp>

#include "epoll_proactor.hpp"
#include "fresh_operation.hpp"

#include <ace/Proactor.h>

#include <new>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tav {

using lock_type = std::lock_guard<std::recursive_mutex>;

aio_socket_stream::handler::~handler() = default;
aio_socket_stream::writer::~writer() = default;

aio_socket_stream::aio_socket_stream() : status_(closed), has_handler_(false), generation_(0) {}

aio_socket_stream::~aio_socket_stream() {
    // No operation is outstanding here (each holds a reference), so the socket just closes, silently.
    close_socket();
}

bool aio_socket_stream::open(ACE_HANDLE handle, ACE_Message_Block& initial_data, ACE_Proactor* proactor,
                             const ACE_INET_Addr& remote, const ACE_INET_Addr& local) {
    lock_type lock(mutex_);
    if (status_ != closed || handle == ACE_INVALID_HANDLE || proactor == nullptr)
        return false;
    make_fresh(reader_);
    make_fresh(writer_);
    if (reader_.open(*this, handle, nullptr, proactor) != 0 ||
        writer_.open(*this, handle, nullptr, proactor) != 0)
        return false;
    if (input_.capacity() < input_size && input_.size(input_size) != 0)
        return false;
    input_.reset();
    filled_ = false;
    if (initial_data.total_length() > input_.space())
        return false;
    for (ACE_Message_Block* block = &initial_data; block != nullptr; block = block->cont())
        input_.copy(block->rd_ptr(), block->length());
    // The stream gathers what is queued into one write itself; Nagle's algorithm would only hold the next
    // write back until the peer's delayed acknowledgement.
    const int on = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    this->handle(handle);
    this->proactor(proactor);
    remote_ = remote;
    local_ = local;
    status_ = 0;
    return true;
}

void aio_socket_stream::set_handler(const boost::intrusive_ptr<handler>& h) {
    lock_type lock(mutex_);
    handler_ = h;
    has_handler_ = h != nullptr;
}

boost::intrusive_ptr<aio_socket_stream::handler> aio_socket_stream::get_handler() const {
    lock_type lock(mutex_);
    return handler_;
}

template <class F> aio_error::code aio_socket_stream::post(const F& f) {
    // The operation waits in the stream's own queue, and each posted command runs the oldest one waiting:
    // with several loop threads the commands may run in any order, the operations still run in the order
    // they were posted.
    std::uint64_t id = 0;
    try {
        const std::lock_guard<std::mutex> lock(posted_mutex_);
        id = ++posted_count_;
        posted_.emplace_back(id, f);
    } catch (const std::bad_alloc&) {
        return aio_error::no_memory;
    }
    aio_error::code result = aio_error::ok;
    try {
        post_call(this, [self = self()] { self->run_posted(); });
        return aio_error::ok;
    } catch (const std::bad_alloc&) {
        result = aio_error::no_memory;
    } catch (...) {
        result = aio_error::failed;
    }
    const std::lock_guard<std::mutex> lock(posted_mutex_);
    for (auto at = posted_.begin(); at != posted_.end(); ++at)
        if (at->first == id) {
            posted_.erase(at);
            break;
        }
    return result;
}

void aio_socket_stream::run_posted() {
    std::function<void()> operation;
    {
        const std::lock_guard<std::mutex> lock(posted_mutex_);
        if (posted_.empty())
            return;
        operation = std::move(posted_.front().second);
        posted_.pop_front();
    }
    operation();
}

aio_error::code aio_socket_stream::start_reading() {
    if (!has_handler_)
        return aio_error::failed;
    return post([self = self()] { self->do_start_reading(); });
}

aio_error::code aio_socket_stream::write(ACE_Message_Block* chain, const boost::intrusive_ptr<writer>& w,
                                         const void* act) {
    if (chain == nullptr || !w)
        return aio_error::bad_argument;
    return post([self = self(), chain, w, act] { self->do_write(chain, w, act); });
}

aio_error::code aio_socket_stream::shutdown() {
    return post([self = self()] { self->do_shutdown(); });
}

aio_error::code aio_socket_stream::shutdown_writing() {
    return post([self = self()] { self->do_shutdown_writing(); });
}

ACE_Message_Block* aio_socket_stream::give_up_input_buffer() {
    lock_type lock(mutex_);
    ACE_Data_Block* fresh = input_.data_block()->clone_nocopy();
    if (fresh == nullptr)
        return nullptr;
    ACE_Message_Block* taken = input_.duplicate();
    if (taken == nullptr) {
        fresh->release();
        return nullptr;
    }
    input_.data_block(fresh);
    input_.reset();
    return taken;
}

void aio_socket_stream::cancel_reader() {
    lock_type lock(mutex_);
    if (status_ & reading)
        reader_.cancel();
}

void aio_socket_stream::cancel_writer() {
    lock_type lock(mutex_);
    if (!queue_.empty())
        writer_.cancel();
}

void aio_socket_stream::handle_cmd(aio_cmd* cmd) {
    lock_type lock(mutex_);
    cmd->execute(this);
}

void aio_socket_stream::do_start_reading() {
    if (!(status_ & (reading | read_stopped)))
        read();
}

void aio_socket_stream::do_write(ACE_Message_Block* chain, const boost::intrusive_ptr<writer>& w,
                                 const void* act) {
    bool refused = (status_ & (write_stopped | shutdown_pending)) != 0;
    try {
        request_ptr request = new write_request(chain, w, act);
        if (!refused)
            queue_.push_back(request);
    } catch (const std::bad_alloc&) {
        on_write_error(w, act, aio_error(aio_error::no_memory, nullptr));
        return;
    }
    if (refused)
        on_write_error(w, act, aio_error(aio_error::write_failed, nullptr));
    else if (queue_.size() == 1)
        write();
}

void aio_socket_stream::do_shutdown() {
    stop_reading();
    do_shutdown_writing();
}

void aio_socket_stream::do_shutdown_writing() {
    if (status_ & (write_stopped | shutdown_pending))
        return;
    if (queue_.empty()) {
        stop_writing();
    } else {
        queue_.push_back(nullptr); // writing stops when the queue gets there
        status_ |= shutdown_pending;
    }
}

void aio_socket_stream::read() {
    // The peer's end, kept for a handler that paused at it: it hears of it again with what it left unread.
    const bool ended = (status_ & peer_closed) != 0;
    if (input_.length() > 0 || ended) {
        bool keep = on_input();
        if (status_ & callback_error) {
            do_shutdown();
            return;
        }
        if ((status_ & read_stopped) || !keep)
            return;
        if (ended) {
            stop_reading();
            return;
        }
    }
    if (!handler_)
        return;
    if (input_.length() == 0) {
        // A new block rather than a larger one in place: a stale read may still hold the old one.
        if (std::exchange(filled_, false) && input_.capacity() < bulk_input_size)
            if (ACE_Data_Block* larger = input_.data_block()->clone_nocopy(0, bulk_input_size))
                input_.data_block(larger);
        input_.reset();
    }
    if (input_.space() == 0) {
        if (input_.rd_ptr() == input_.base()) {
            status_ |= callback_error;
            on_input_error(aio_error(aio_error::input_overflow, nullptr));
            do_shutdown();
            return;
        }
        input_.crunch();
    }
    if (!read_stream(input_.space())) {
        status_ |= read_error;
        on_input_error(aio_error(aio_error::read_failed, nullptr));
        do_shutdown();
        return;
    }
    status_ |= reading;
}

bool aio_socket_stream::read_stream(size_t bytes) {
    // The read fills a second header over the same storage: its completion moves that header's write
    // pointer, and the stream moves its own only when the completion is current. The shared storage also
    // outlives a block given up while the read was outstanding.
    ACE_Message_Block* view = input_.duplicate();
    if (view == nullptr)
        return false;
    intrusive_ptr_add_ref(this);
    if (reader_.read(*view, bytes, token()) != 0) {
        view->release();
        intrusive_ptr_release(this);
        return false;
    }
    return true;
}

void aio_socket_stream::handle_read_stream(const ACE_Asynch_Read_Stream::Result& result) {
    boost::intrusive_ptr<aio_socket_stream> hold(this, false);
    lock_type lock(mutex_);
    size_t bytes = result.bytes_transferred();
    result.message_block().release();
    if (stale(result) || (status_ & read_stopped) || !handler_)
        return;
    status_ &= ~reading;
    if (!result.success()) {
        status_ |= read_error;
        on_input_error(aio_error(aio_error::read_failed, &result));
        do_shutdown();
    } else if (bytes == 0) {
        status_ |= peer_closed;
        if (half_close_) {
            read(); // reading ends once the handler has taken the end; writing goes on
            return;
        }
        on_input();
        do_shutdown();
    } else {
        input_.wr_ptr(bytes);
        filled_ = input_.space() == 0;
        read();
    }
}

void aio_socket_stream::write() {
    while (!queue_.empty()) {
        request_ptr front = queue_.front();
        if (!front) {
            queue_.pop_front();
            stop_writing();
            return;
        }
        if (front->chain->total_length() == 0) {
            // Nothing to send: the request is done at once.
            queue_.pop_front();
            on_write(front);
            continue;
        }
        if (writev(front->chain))
            return;
        status_ |= write_error;
        queue_.pop_front();
        on_write_error(front->notify, front->act, aio_error(aio_error::write_failed, nullptr));
        stop_writing();
        return;
    }
}

bool aio_socket_stream::writev(ACE_Message_Block* chain) {
    intrusive_ptr_add_ref(this);
    if (writer_.write(*chain, chain->total_length(), token()) != 0) {
        intrusive_ptr_release(this);
        return false;
    }
    return true;
}

void aio_socket_stream::handle_write_stream(const ACE_Asynch_Write_Stream::Result& result) {
    boost::intrusive_ptr<aio_socket_stream> hold(this, false);
    lock_type lock(mutex_);
    if (stale(result) || (status_ & write_stopped) || queue_.empty())
        return;
    request_ptr front = queue_.front();
    if (!result.success()) {
        status_ |= write_error;
        queue_.pop_front();
        on_write_error(front->notify, front->act, aio_error(aio_error::write_failed, &result));
        stop_writing();
        return;
    }
    // The proactor has moved the chain's read pointers past the bytes sent.
    if (front->chain->total_length() == 0) {
        queue_.pop_front();
        on_write(front);
    }
    if (!queue_.empty() && !(status_ & write_stopped))
        write();
}

void aio_socket_stream::stop_reading() {
    if (status_ & read_stopped)
        return;
    if (status_ & reading)
        reader_.cancel();
    status_ |= read_stopped;
    if (status_ & write_stopped)
        finish_close();
}

void aio_socket_stream::stop_writing() {
    if (status_ & write_stopped)
        return;
    if (!queue_.empty()) {
        writer_.cancel();
        std::deque<request_ptr> discarded;
        discarded.swap(queue_);
        for (const request_ptr& request : discarded) {
            if (request)
                on_write_error(request->notify, request->act, aio_error(aio_error::write_cancelled, nullptr));
        }
    }
    status_ &= ~shutdown_pending;
    status_ |= write_stopped;
    if (status_ & read_stopped) {
        finish_close();
        return;
    }
    // Reading goes on: the peer reads the end of the stream now.
    ::shutdown(handle(), SHUT_WR);
}

void aio_socket_stream::finish_close() {
    close_socket();
    on_close();
    remote_ = ACE_INET_Addr();
    local_ = ACE_INET_Addr();
    status_ = closed;
    handler_.reset();
    has_handler_ = false;
    input_.reset();
    // Completions still on their way belong to this opening and are ignored from now on.
    ++generation_;
}

void aio_socket_stream::close_socket() {
    ACE_HANDLE h = handle();
    if (h == ACE_INVALID_HANDLE)
        return;
    // Nothing of this socket may wait in the proactor once its descriptor number can be reused.
    reader_.cancel();
    writer_.cancel();
    if (auto* epoll =
            dynamic_cast<epoll_proactor*>(proactor() != nullptr ? proactor()->implementation() : nullptr))
        epoll->forget(h);
    ::shutdown(h, SHUT_WR);
    ::close(h);
    handle(ACE_INVALID_HANDLE);
}

const void* aio_socket_stream::token() const {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a tag compared by value, never dereferenced
    return reinterpret_cast<const void*>(generation_);
}

bool aio_socket_stream::stale(const ACE_Asynch_Result& result) const {
    return reinterpret_cast<std::uintptr_t>(result.act()) != generation_;
}

template <class F> bool aio_socket_stream::guarded(const F& callback) {
    try {
        callback();
        return true;
    } catch (...) {
        status_ |= callback_error;
        return false;
    }
}

bool aio_socket_stream::on_input() {
    boost::intrusive_ptr<handler> h = handler_;
    bool keep = false;
    return h && guarded([&] { keep = h->handle_input(self()); }) && keep;
}

void aio_socket_stream::on_input_error(const aio_error& error) {
    if (boost::intrusive_ptr<handler> h = handler_)
        guarded([&] { h->handle_input_error(self(), error); });
}

void aio_socket_stream::on_close() {
    if (boost::intrusive_ptr<handler> h = handler_)
        guarded([&] { h->handle_close(self()); });
}

void aio_socket_stream::on_write(const request_ptr& request) {
    guarded([&] { request->notify->handle_written(self(), request->act); });
}

void aio_socket_stream::on_write_error(const boost::intrusive_ptr<writer>& w, const void* act,
                                       const aio_error& error) {
    guarded([&] { w->handle_write_error(self(), act, error); });
}

} // namespace tav
