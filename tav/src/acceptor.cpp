#include <tav/acceptor.hpp>

#include "fresh_operation.hpp"

#include <ace/Message_Block.h>
#include <ace/Proactor.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

template <> tav::session* ACE_Asynch_Acceptor<tav::session>::make_handler() {
    return nullptr;
}

template <>
void ACE_Asynch_Acceptor<tav::session>::handle_accept(const ACE_Asynch_Accept::Result& /*result*/) {}

namespace tav {

namespace {

using lock_type = std::lock_guard<std::recursive_mutex>;

void close_handle(ACE_HANDLE handle) {
    if (handle != ACE_INVALID_HANDLE)
        ::close(handle);
}

// Errors that say the process or the system has no descriptor or buffer to spare, for now.
bool out_of_descriptors(unsigned long error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

constexpr std::chrono::milliseconds first_pause{10};
constexpr std::chrono::milliseconds longest_pause{1000};

} // namespace

session::~session() = default;

session_manager::~session_manager() = default;

void session_manager::accept_paused(int /*error*/) {}

acceptor::acceptor() : manager_(nullptr) {}

acceptor::~acceptor() = default;

bool acceptor::start(const ACE_INET_Addr& address, session_manager* manager, ACE_Proactor* proactor,
                     int backlog, bool reuse_address) {
    lock_type lock(mutex_);
    if (handle() != ACE_INVALID_HANDLE || manager == nullptr || proactor == nullptr || backlog <= 0)
        return false;
    manager_ = manager;
    make_fresh(asynch_accept());
    if (open(address, 0, false, backlog, reuse_address, proactor, false, 1, backlog) != 0) {
        manager_ = nullptr;
        return false;
    }
    // With port 0 the system chose the port; the address tells it.
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(handle(), reinterpret_cast<sockaddr*>(&bound), &length) == 0)
        address_.set(reinterpret_cast<sockaddr_in*>(&bound), static_cast<int>(length));
    else
        address_ = address;
    return true;
}

void acceptor::stop() {
    lock_type lock(mutex_);
    ACE_HANDLE listening = handle();
    if (listening == ACE_INVALID_HANDLE)
        return;
    cancel();
    cancel_retry();
    parked_ = 0;
    waiting_ = false;
    handle(ACE_INVALID_HANDLE);
    ::shutdown(listening, SHUT_WR);
    ::close(listening);
    manager_ = nullptr;
    address_ = ACE_INET_Addr();
}

const ACE_INET_Addr& acceptor::address() const {
    lock_type lock(mutex_);
    return address_;
}

int acceptor::accept(size_t bytes_to_read, const void* act) {
    // The reference is taken first: the accept may complete on another thread before this call returns.
    intrusive_ptr_add_ref(this);
    if (ACE_Asynch_Acceptor<session>::accept(bytes_to_read, act) != 0) {
        intrusive_ptr_release(this);
        return -1;
    }
    return 0;
}

void acceptor::handle_accept(const ACE_Asynch_Accept::Result& result) {
    boost::intrusive_ptr<acceptor> hold(this, false);
    lock_type lock(mutex_);
    ACE_HANDLE accepted = result.accept_handle();
    if (handle() == ACE_INVALID_HANDLE || result.error() == ECANCELED) {
        close_handle(accepted);
        result.message_block().release();
        return;
    }
    if (!result.success() && out_of_descriptors(result.error())) {
        result.message_block().release();
        pause(static_cast<int>(result.error()));
        return;
    }
    bool bad = !result.success() || accepted == ACE_INVALID_HANDLE;
    if (!bad) {
        pause_ = std::chrono::milliseconds(0);
        told_ = false;
        ACE_INET_Addr remote, local;
        parse_address(result, remote, local);
        try {
            boost::intrusive_ptr<session> s = manager_->create_session();
            bad = !s || !s->open_session(accepted, result.message_block(), proactor(), remote, local);
            if (s && bad)
                manager_->session_failed(s);
        } catch (...) {
            // A manager or session that throws refuses the connection; the acceptor keeps listening.
            bad = true;
        }
    }
    if (bad)
        close_handle(accepted);
    result.message_block().release();
    if (should_reissue_accept())
        accept(0, nullptr);
}

void acceptor::resume() {
    if (!waiting_)
        return;
    lock_type lock(mutex_);
    cancel_retry();
    reissue_parked();
}

void acceptor::handle_time_out(const ACE_Time_Value& /*tv*/, const void* /*act*/) {
    boost::intrusive_ptr<acceptor> hold(this, false); // the timer's reference
    lock_type lock(mutex_);
    retry_timer_ = -1;
    if (handle() != ACE_INVALID_HANDLE)
        reissue_parked();
}

void acceptor::pause(int error) {
    ++parked_;
    waiting_ = true;
    if (retry_timer_ != -1)
        return; // a retry is due already
    pause_ = pause_.count() == 0 ? first_pause : std::min(pause_ * 2, longest_pause);
    if (!told_) {
        told_ = true;
        manager_->accept_paused(error);
    }
    intrusive_ptr_add_ref(this);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(pause_).count();
    retry_timer_ =
        proactor()->schedule_timer(*this, nullptr, ACE_Time_Value(0, static_cast<suseconds_t>(micros)));
    if (retry_timer_ == -1) {
        intrusive_ptr_release(this);
        reissue_parked(); // no timer: trying again at once is all that is left
    }
}

void acceptor::reissue_parked() {
    waiting_ = false;
    for (int count = std::exchange(parked_, 0); count > 0; --count)
        accept(0, nullptr);
}

void acceptor::cancel_retry() {
    if (retry_timer_ == -1)
        return;
    if (proactor()->cancel_timer(retry_timer_) == 1)
        intrusive_ptr_release(this); // the timer's reference, which its handler will not release now
    retry_timer_ = -1;
}

} // namespace tav
