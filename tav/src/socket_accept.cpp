#include "socket_accept.hpp"

#include "epoll_proactor.hpp"

#include <cerrno>
#include <memory>

#include <fcntl.h>

namespace tav {

socket_accept::socket_accept(epoll_proactor* proactor)
    : ACE_Asynch_Operation_Impl(), ACE_Asynch_Accept_Impl(), ACE_POSIX_Asynch_Operation(proactor),
      epoll_(proactor) {}

int socket_accept::open(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle,
                        const void* completion_key, ACE_Proactor* proactor) {
    epoll_->forget(handle);
    return ACE_POSIX_Asynch_Operation::open(handler_proxy, handle, completion_key, proactor);
}

int socket_accept::accept(ACE_Message_Block& message_block, size_t, ACE_HANDLE accept_handle, const void* act,
                          int priority, int signal_number, int) {
    // Linux creates the accepted socket itself; it cannot accept into one the caller made.
    if (accept_handle != ACE_INVALID_HANDLE) {
        errno = EINVAL;
        return -1;
    }
    // Another thread may take the pending connection first, so accepting must never block.
    int flags = ::fcntl(handle_, F_GETFL);
    if (flags < 0 || ((flags & O_NONBLOCK) == 0 && ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK) != 0))
        return -1;
    std::unique_ptr<ACE_Asynch_Accept_Result_Impl> result(
        epoll_->create_asynch_accept_result(handler_proxy_, handle_, ACE_INVALID_HANDLE, message_block, 0,
                                            act, ACE_INVALID_HANDLE, priority, signal_number));
    auto* posix = dynamic_cast<ACE_POSIX_Asynch_Result*>(result.get());
    if (posix == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    if (epoll_->start(handle_, posix, epoll_proactor::op_kind::accept) != 0)
        return -1;
    result.release();
    return 0;
}

} // namespace tav
