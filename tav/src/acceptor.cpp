#include <tav/acceptor.hpp>

#include "fresh_operation.hpp"

#include <ace/Message_Block.h>
#include <ace/Proactor.h>

#include <cerrno>

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

} // namespace

session::~session() = default;

session_manager::~session_manager() = default;

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
    bool bad = !result.success() || accepted == ACE_INVALID_HANDLE;
    if (!bad) {
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

} // namespace tav
