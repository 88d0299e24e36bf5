#pragma once

// Opening TCP connections on a proactor.
//
// Each connect holds a reference to the connector until its completion has been handled. A connection
// becomes an aio_socket_stream that the derived class supplies; it does not read until its new owner sets
// a handler and calls start_reading.

#include <tav/aio_socket_stream.hpp>
#include <tav/export.hpp>
#include <tav/ref_counted.hpp>

#include <ace/Asynch_Connector.h>
#include <ace/INET_Addr.h>

#include <boost/intrusive_ptr.hpp>

// The connector opens streams itself; ACE's creation and opening of handlers does not apply.
template <>
TAV_EXPORT void
ACE_Asynch_Connector<tav::aio_socket_stream>::handle_connect(const ACE_Asynch_Connect::Result& result);

namespace tav {

class TAV_EXPORT connector : public ACE_Asynch_Connector<aio_socket_stream>, public virtual ref_counted {
public:
    // The default local address of connect: any address, any port.
    static const ACE_INET_Addr addr_any_;

    connector();
    ~connector() override;

    // Makes the connector usable on `proactor`.
    [[nodiscard]] bool open(ACE_Proactor* proactor);
    // Starts one connect to `remote` from `local`; false when it could not start.
    [[nodiscard]] bool connect(const ACE_INET_Addr& remote, bool reuse_address,
                               const ACE_INET_Addr& local = addr_any_);
    // Cancels the outstanding connects; they end in on_connect_failed.
    int cancel() override;

    void handle_connect(const ACE_Asynch_Connect::Result& result) override;

    // A new, unopened stream for a connection just established, or null.
    virtual boost::intrusive_ptr<aio_socket_stream> create_stream() = 0;
    // The stream has been opened on the new connection.
    virtual void on_connected(const boost::intrusive_ptr<aio_socket_stream>& stream) = 0;
    // The connection failed. The stream is null unless opening it failed; `error` is the system error of the
    // connect (0 when the connect itself succeeded).
    virtual void on_connect_failed(const boost::intrusive_ptr<aio_socket_stream>& stream,
                                   unsigned long error) = 0;

private:
    // ACE's own opening and connecting would skip the reference each connect holds.
    using ACE_Asynch_Connector<aio_socket_stream>::open;
    using ACE_Asynch_Connector<aio_socket_stream>::connect;
};

} // namespace tav
