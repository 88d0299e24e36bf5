#include <tav/aio_cmd.hpp>

#include "epoll_proactor.hpp"

#include <ace/Proactor.h>

#include <memory>
#include <new>

namespace tav {

namespace {

aio_cmd_handler* target_of(ACE_Handler::Proxy_Ptr& proxy) {
    ACE_Handler::Proxy* p = proxy.get();
    return p != nullptr ? static_cast<aio_cmd_handler*>(p->handler()) : nullptr;
}

} // namespace

int aio_cmd_handler::get_signal_number() const {
    return 0;
}

aio_cmd::aio_cmd(const boost::intrusive_ptr<aio_cmd_handler>& handler, const void* act)
    : ACE_Asynch_Result_Impl(),
      ACE_POSIX_Asynch_Result(handler ? handler->proxy() : ACE_Handler::Proxy_Ptr(), act, ACE_INVALID_HANDLE,
                              0, 0, 0, handler ? handler->get_signal_number() : 0) {}

bool aio_cmd::enqueue() {
    aio_cmd_handler* handler = target_of(handler_proxy_);
    ACE_Proactor* proactor = handler != nullptr ? handler->proactor() : nullptr;
    if (proactor == nullptr) {
        delete this;
        return false;
    }
    // The queued command keeps its handler alive until it has been delivered.
    intrusive_ptr_add_ref(handler);
    if (post_completion(proactor->implementation()) == 0)
        return true;
    // A proactor that refuses a result has already destroyed it.
    intrusive_ptr_release(handler);
    return false;
}

void aio_cmd::complete(size_t bytes_transferred, int success, const void* completion_key, u_long error) {
    bytes_transferred_ = bytes_transferred;
    success_ = success;
    completion_key_ = completion_key;
    error_ = error;
    aio_cmd_handler* handler = target_of(handler_proxy_);
    if (handler == nullptr)
        return;
    // Adopts the reference that enqueue took, so it is dropped even when the command throws.
    boost::intrusive_ptr<aio_cmd_handler> hold(handler, false);
    handler->handle_cmd(this);
}

ACE_Proactor* make_proactor(unsigned threads) {
    std::unique_ptr<epoll_proactor> impl(new (std::nothrow) epoll_proactor);
    if (!impl || !impl->is_open())
        return nullptr;
    impl->number_of_threads(threads);
    auto* proactor = new (std::nothrow) ACE_Proactor(impl.get(), true);
    if (proactor != nullptr)
        static_cast<void>(impl.release()); // the proactor owns it now
    return proactor;
}

} // namespace tav
