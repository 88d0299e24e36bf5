#include "gather_write_result.hpp"

#include <ace/Message_Block.h>

namespace tav {

namespace {

// The handler interface takes ACE's result wrapper, whose constructor only derived classes may call.
class write_result_view : public ACE_Asynch_Write_Stream::Result {
public:
    explicit write_result_view(ACE_Asynch_Write_Stream_Result_Impl* impl) : Result(impl) {}
};

} // namespace

gather_write_result::gather_write_result(const ACE_Handler::Proxy_Ptr& handler_proxy, ACE_HANDLE handle,
                                         ACE_Message_Block& message_block, size_t bytes_to_write,
                                         const void* act, ACE_HANDLE event, int priority, int signal_number)
    : ACE_Asynch_Result_Impl(),
      ACE_POSIX_Asynch_Write_Stream_Result(handler_proxy, handle, message_block, bytes_to_write, act, event,
                                           priority, signal_number) {}

void gather_write_result::complete(size_t bytes_transferred, int success, const void* completion_key,
                                   u_long error) {
    bytes_transferred_ = bytes_transferred;
    success_ = success;
    completion_key_ = completion_key;
    error_ = error;
    write_result_view result(this);
    if (ACE_Handler* handler = handler_proxy_.get()->handler())
        handler->handle_write_stream(result);
}

} // namespace tav
