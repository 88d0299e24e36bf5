#include "socket_read_stream.hpp"

#include "epoll_proactor.hpp"

namespace tav {

socket_read_stream::socket_read_stream(epoll_proactor* proactor)
    : ACE_Asynch_Operation_Impl(), ACE_Asynch_Read_Stream_Impl(), ACE_POSIX_Asynch_Read_Stream(proactor),
      epoll_(proactor) {}

int socket_read_stream::open(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle,
                             const void* completion_key, ACE_Proactor* proactor) {
    epoll_->forget(handle);
    return ACE_POSIX_Asynch_Read_Stream::open(handler_proxy, handle, completion_key, proactor);
}

int socket_read_stream::cancel() {
    return epoll_->cancel(handle_, true, false);
}

} // namespace tav
