#pragma once

#include <ace/POSIX_Asynch_IO.h>

namespace tav {

class epoll_proactor;

// Asynchronous connect of a new non-blocking stream socket. The result's connect handle belongs to the
// handler whether the connect succeeded or failed.
class socket_connect : public ACE_Asynch_Connect_Impl, public ACE_POSIX_Asynch_Operation {
public:
    explicit socket_connect(epoll_proactor* proactor);

    // A connect has no descriptor until it starts, so opening only records the handler and the proactor.
    int open(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle, const void* completion_key,
             ACE_Proactor* proactor) override;

    int connect(ACE_HANDLE connect_handle, const ACE_Addr& remote_sap, const ACE_Addr& local_sap,
                int reuse_addr, const void* act, int priority, int signal_number) override;

private:
    epoll_proactor* epoll_;
};

} // namespace tav
