#pragma once

#include <ace/POSIX_Asynch_IO.h>

namespace tav {

// The result of a gather write of a chain of blocks linked by cont(). The proactor moves the read pointers
// of the whole chain as bytes are sent, so completing touches the chain no more: ACE's own write result
// would move the first block's pointer a second time.
class gather_write_result : public ACE_POSIX_Asynch_Write_Stream_Result {
public:
    gather_write_result(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle,
                        ACE_Message_Block& message_block, size_t bytes_to_write, const void* act,
                        ACE_HANDLE event, int priority, int signal_number);

    void complete(size_t bytes_transferred, int success, const void* completion_key, u_long error) override;
};

} // namespace tav
