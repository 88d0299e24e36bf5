#include "socket_connect.hpp"

#include "epoll_proactor.hpp"

#include <ace/Addr.h>

#include <cerrno>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace tav {

socket_connect::socket_connect(epoll_proactor* proactor)
    : ACE_Asynch_Operation_Impl(), ACE_Asynch_Connect_Impl(), ACE_POSIX_Asynch_Operation(proactor),
      epoll_(proactor) {}

int socket_connect::open(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle, const void*,
                         ACE_Proactor* proactor) {
    handler_proxy_ = handler_proxy;
    handle_ = handle;
    proactor_ = proactor;
    return 0;
}

int socket_connect::connect(ACE_HANDLE connect_handle, const ACE_Addr& remote_sap, const ACE_Addr& local_sap,
                            int reuse_addr, const void* act, int priority, int signal_number) {
    if (connect_handle != ACE_INVALID_HANDLE || remote_sap.get_addr() == nullptr) {
        errno = EINVAL;
        return -1;
    }
    int fd = ::socket(remote_sap.get_type(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    epoll_->forget(fd);
    int one = 1;
    bool ready = (!reuse_addr || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0) &&
                 (local_sap == ACE_Addr::sap_any ||
                  ::bind(fd, static_cast<sockaddr*>(local_sap.get_addr()), local_sap.get_size()) == 0);
    std::unique_ptr<ACE_Asynch_Connect_Result_Impl> result;
    if (ready)
        result.reset(epoll_->create_asynch_connect_result(handler_proxy_, fd, act, ACE_INVALID_HANDLE,
                                                          priority, signal_number));
    auto* posix = dynamic_cast<ACE_POSIX_Asynch_Result*>(result.get());
    if (posix == nullptr) {
        int error = ready ? ENOMEM : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    // A connect that fails at once, refused on loopback for example, is reported through the handler too.
    int rc = ::connect(fd, static_cast<sockaddr*>(remote_sap.get_addr()), remote_sap.get_size());
    if (rc == 0 || errno != EINPROGRESS) {
        epoll_->finish(posix, 0, rc == 0 ? 0 : errno);
    } else if (epoll_->start(fd, posix, epoll_proactor::op_kind::connect) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    result.release();
    return 0;
}

} // namespace tav
