#pragma once

// Listening for TCP connections on a proactor.
//
// The acceptor keeps a number of asynchronous accepts outstanding and hands every accepted socket to a
// session that its session_manager creates. Each outstanding accept holds a reference to the acceptor.
// When the process is out of descriptors, the accepts wait instead of failing again at once: they are tried
// again after a pause that grows from 10 ms to 1 s, or at once when resume() says that a socket closed.

#include <tav/export.hpp>
#include <tav/ref_counted.hpp>

#include <ace/Asynch_Acceptor.h>
#include <ace/INET_Addr.h>

#include <boost/intrusive_ptr.hpp>

#include <atomic>
#include <chrono>
#include <mutex>

namespace tav {

// Takes over an accepted socket.
class TAV_EXPORT session : public virtual ref_counted {
public:
    ~session() override;
    // Takes over the socket (the arguments of aio_socket_stream::open); false when it cannot use it.
    virtual bool open_session(ACE_HANDLE handle, ACE_Message_Block& initial_data, ACE_Proactor* proactor,
                              const ACE_INET_Addr& remote, const ACE_INET_Addr& local) = 0;
    // Ends the session. For the owners of sessions; the acceptor never calls it.
    virtual void close_session() = 0;
};

// Creates the sessions of an acceptor. Its operations may run on several proactor threads at once.
class TAV_EXPORT session_manager {
public:
    session_manager() = default;
    session_manager(const session_manager& /*other*/) {}
    session_manager& operator=(const session_manager& /*other*/) { return *this; }
    virtual ~session_manager();
    // A new, unopened session, or null to refuse the connection.
    virtual boost::intrusive_ptr<session> create_session() = 0;
    // The session could not open; the manager forgets or recycles it.
    virtual void session_failed(const boost::intrusive_ptr<session>& s) = 0;
    // The process ran out of descriptors (`error`: EMFILE, ENFILE...) and the acceptor waits; called once
    // until an accept succeeds again.
    virtual void accept_paused(int error);
};

} // namespace tav

// The acceptor hands sockets to sessions itself; ACE's creation and opening of handlers does not apply.
template <> TAV_EXPORT tav::session* ACE_Asynch_Acceptor<tav::session>::make_handler();
template <>
TAV_EXPORT void ACE_Asynch_Acceptor<tav::session>::handle_accept(const ACE_Asynch_Accept::Result& result);

namespace tav {

class TAV_EXPORT acceptor : public ACE_Asynch_Acceptor<session>, public virtual ref_counted {
public:
    acceptor();

    // Listens on `address` (port 0: any free port) with `backlog` accepts outstanding. False, with nothing
    // kept, when the socket cannot be made, bound or listened on, or an argument is null.
    [[nodiscard]] bool start(const ACE_INET_Addr& address, session_manager* manager, ACE_Proactor* proactor,
                             int backlog, bool reuse_address);
    // Stops listening: outstanding accepts end without sessions and the manager is no longer called once
    // stop has returned.
    void stop();
    // The address listened on (with the port the system chose), or the default address when idle.
    const ACE_INET_Addr& address() const;
    // A descriptor was freed: accepts that wait for one are tried again now. Cheap when none waits.
    void resume();

    int accept(size_t bytes_to_read = 0, const void* act = nullptr) override;
    void handle_accept(const ACE_Asynch_Accept::Result& result) override;
    void handle_time_out(const ACE_Time_Value& tv, const void* act) override;

protected:
    ~acceptor() override;

private:
    // Parks an accept that failed for want of descriptors and sees that it is tried again; under mutex_.
    void pause(int error);
    // Issues the parked accepts again; under mutex_.
    void reissue_parked();
    // Cancels the retry timer, if one is due; under mutex_.
    void cancel_retry();

    ACE_INET_Addr address_;
    session_manager* manager_;
    mutable std::recursive_mutex mutex_;
    int parked_ = 0;
    std::atomic<bool> waiting_{false};
    long retry_timer_ = -1;
    std::chrono::milliseconds pause_{0};
    bool told_ = false;
};

} // namespace tav
