#pragma once

#include <ace/POSIX_Asynch_IO.h>

namespace tav {

class epoll_proactor;

// ACE's asynchronous read, whose cancel stops the reads of the socket only, so that its writes go on.
class socket_read_stream : public ACE_POSIX_Asynch_Read_Stream {
public:
    explicit socket_read_stream(epoll_proactor* proactor);

    // The descriptor may name a new socket: the proactor forgets what it knew of the number.
    int open(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle, const void* completion_key,
             ACE_Proactor* proactor) override;

    int cancel() override;

private:
    epoll_proactor* epoll_;
};

} // namespace tav
