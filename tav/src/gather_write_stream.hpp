#pragma once

#include <ace/POSIX_Asynch_IO.h>

namespace tav {

class epoll_proactor;

// Asynchronous write of a chain of blocks linked by cont(), sent with one gathering system call per try.
class gather_write_stream : public ACE_Asynch_Write_Stream_Impl, public ACE_POSIX_Asynch_Operation {
public:
    explicit gather_write_stream(epoll_proactor* proactor);

    // The descriptor may name a new socket: the proactor forgets what it knew of the number.
    int open(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle, const void* completion_key,
             ACE_Proactor* proactor) override;

    int write(ACE_Message_Block& message_block, size_t bytes_to_write, const void* act, int priority,
              int signal_number) override;

    // Cancels the writes of the socket only; its reads go on.
    int cancel() override;

private:
    epoll_proactor* epoll_;
};

} // namespace tav
