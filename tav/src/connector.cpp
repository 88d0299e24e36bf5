#include <tav/connector.hpp>

#include "fresh_operation.hpp"

#include <ace/Message_Block.h>

#include <fcntl.h>
#include <unistd.h>

template <>
void ACE_Asynch_Connector<tav::aio_socket_stream>::handle_connect(
    const ACE_Asynch_Connect::Result& /*result*/) {}

namespace tav {

const ACE_INET_Addr connector::addr_any_;

connector::connector() = default;

connector::~connector() = default;

bool connector::open(ACE_Proactor* proactor) {
    if (proactor == nullptr)
        return false;
    this->proactor(proactor);
    make_fresh(asynch_connect());
    return asynch_connect().open(*this, ACE_INVALID_HANDLE, nullptr, proactor) == 0;
}

bool connector::connect(const ACE_INET_Addr& remote, bool reuse_address, const ACE_INET_Addr& local) {
    const ACE_Addr& from = &local == &addr_any_ ? ACE_Addr::sap_any : static_cast<const ACE_Addr&>(local);
    // The reference is taken first: the connect may complete on another thread before this call returns.
    intrusive_ptr_add_ref(this);
    if (asynch_connect().connect(ACE_INVALID_HANDLE, remote, from, reuse_address ? 1 : 0, nullptr) != 0) {
        intrusive_ptr_release(this);
        return false;
    }
    return true;
}

int connector::cancel() {
    return asynch_connect().cancel();
}

void connector::handle_connect(const ACE_Asynch_Connect::Result& result) {
    boost::intrusive_ptr<connector> hold(this, false);
    ACE_HANDLE handle = result.connect_handle();
    unsigned long error = result.error();
    boost::intrusive_ptr<aio_socket_stream> stream;
    bool failed = !result.success() || handle == ACE_INVALID_HANDLE || error != 0;
    if (!failed) {
        int flags = ::fcntl(handle, F_GETFL);
        failed = flags < 0 || ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) != 0;
    }
    if (!failed) {
        ACE_INET_Addr remote, local;
        parse_address(result, remote, local);
        ACE_Message_Block no_data;
        stream = create_stream();
        failed = !stream || !stream->open(handle, no_data, proactor(), remote, local);
    }
    if (failed) {
        if (handle != ACE_INVALID_HANDLE)
            ::close(handle);
        on_connect_failed(stream, error);
        return;
    }
    on_connected(stream);
}

} // namespace tav
