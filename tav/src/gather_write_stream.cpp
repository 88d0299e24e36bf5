#include "gather_write_stream.hpp"

#include "epoll_proactor.hpp"
#include "gather_write_result.hpp"

#include <ace/Message_Block.h>

#include <cerrno>
#include <new>

namespace tav {

gather_write_stream::gather_write_stream(epoll_proactor* proactor)
    : ACE_Asynch_Operation_Impl(), ACE_Asynch_Write_Stream_Impl(), ACE_POSIX_Asynch_Operation(proactor),
      epoll_(proactor) {}

int gather_write_stream::open(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle,
                              const void* completion_key, ACE_Proactor* proactor) {
    epoll_->forget(handle);
    return ACE_POSIX_Asynch_Operation::open(handler_proxy, handle, completion_key, proactor);
}

int gather_write_stream::write(ACE_Message_Block& message_block, size_t bytes_to_write, const void* act,
                               int priority, int signal_number) {
    size_t total = 0;
    for (ACE_Message_Block* block = &message_block; block != nullptr; block = block->cont())
        total += block->length();
    if (bytes_to_write > total)
        bytes_to_write = total;
    if (bytes_to_write == 0) {
        errno = ENOSPC;
        return -1;
    }
    auto* result =
        new (std::nothrow) gather_write_result(handler_proxy_, handle_, message_block, bytes_to_write, act,
                                               ACE_INVALID_HANDLE, priority, signal_number);
    if (result == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    if (epoll_->start(handle_, result, epoll_proactor::op_kind::write, &message_block, bytes_to_write) != 0) {
        delete result;
        return -1;
    }
    return 0;
}

int gather_write_stream::cancel() {
    return epoll_->cancel(handle_, false, true);
}

} // namespace tav
