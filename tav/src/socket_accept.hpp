#pragma once

#include <ace/POSIX_Asynch_IO.h>

namespace tav {

class epoll_proactor;

// Asynchronous accept on a listening socket. The accepted socket is a new descriptor, non-blocking and
// closed on exec; no initial data is read with it.
class socket_accept : public ACE_Asynch_Accept_Impl, public ACE_POSIX_Asynch_Operation {
public:
    explicit socket_accept(epoll_proactor* proactor);

    // The descriptor may name a new socket: the proactor forgets what it knew of the number.
    int open(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle, const void* completion_key,
             ACE_Proactor* proactor) override;

    int accept(ACE_Message_Block& message_block, size_t bytes_to_read, ACE_HANDLE accept_handle,
               const void* act, int priority, int signal_number, int addr_family) override;

private:
    epoll_proactor* epoll_;
};

} // namespace tav
