#pragma once

// The HTTP server: listens on a proactor, keeps its connections, routes each request to the first extension
// that takes it, closes connections whose deadline has passed, and writes one access-log record per answer.
// It may also listen for connections that a gateway redirects to it (see connection): their requests go to
// the forward extension alone, to the address each was sent to.
//
// start() and stop() belong to one controlling thread; everything else runs on the proactor's threads.
// Extensions are added before start() and released by their owner after stop().

#include "steady_source.hpp"

#include <tav/acceptor.hpp>
#include <tav/http/extension.hpp>
#include <tav/http/server.hpp>
#include <tav/logger.hpp>
#include <tav/uri.hpp>

#include <ace/Asynch_IO.h>
#include <ace/INET_Addr.h>

#include <boost/intrusive_ptr.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tav::http {

class connection;

struct server_settings {
    ACE_INET_Addr listen{static_cast<u_short>(8008), "0.0.0.0"};
    // What a request in origin form stands for ("GET / HTTP/1.1" sent to the server itself).
    tav::uri site;
    std::size_t max_connections = 4096;
    // Connections held at once by one client address other than the service's own (the filter machine,
    // where the administrator can always reach the site). One address never holds every connection: an
    // eighth of them stays for the others.
    std::size_t max_connections_per_client = 256;
    // A request head, the first one's first byte included, must arrive whole within this time.
    std::chrono::steady_clock::duration head_timeout = std::chrono::seconds(15);
    // A connection without a request, or a body that stops coming, is closed after this time.
    std::chrono::steady_clock::duration idle_timeout = std::chrono::seconds(60);
    // The largest request body taken.
    std::optional<std::uint64_t> body_limit = 1024 * 1024;
    // The name of the access log below log/; empty for none.
    std::string access_log = "access";
    // Where the connections that a gateway's firewall redirects to the service are taken; unset for none.
    std::optional<ACE_INET_Addr> intercept_listen;
    // How long such a connection may take to send its first bytes.
    std::chrono::steady_clock::duration intercept_timeout = std::chrono::seconds(10);
    // Finds the address a redirected connection was sent to; the firewall's record of it when empty.
    std::function<bool(ACE_HANDLE handle, ACE_INET_Addr& destination)> original_destination;
    // Where the deadlines read the time.
    std::shared_ptr<const steady_source> clock = std::make_shared<steady_source>();
};

class http_server : public server, public session_manager, private ACE_Handler {
public:
    http_server(ACE_Proactor* proactor, const server_settings& settings);

    void add_extension(const boost::intrusive_ptr<extension>& e);
    // The extension asked last, for requests that name another server (an absolute target, or CONNECT) and
    // that no other extension takes: the forward proxy.
    void set_forward(const boost::intrusive_ptr<extension>& e);
    const boost::intrusive_ptr<extension>& forward() const { return forward_; }
    // The methods the site extensions answer; the forward extension takes any.
    static bool is_site_method(const std::string& method);
    // The methods that requests for the request's target may use, for the Allow field of a refusal: the
    // site's, or those the forward proxy passes on.
    static std::string allowed_methods(const request_head& head);
    // Listens and starts the timer; false with the reason in `error`.
    [[nodiscard]] bool start(std::string& error);
    // Stops listening and the timer and closes every connection; returns once they have closed or `wait`
    // has passed.
    void stop(std::chrono::steady_clock::duration wait = std::chrono::seconds(5));
    // The address listened on, with the port the system chose, and the one for redirected connections.
    ACE_INET_Addr address() const;
    ACE_INET_Addr intercept_address() const;
    std::size_t connections() const;

    ACE_Proactor* proactor() const override { return proactor_; }

    boost::intrusive_ptr<session> create_session() override;
    void session_failed(const boost::intrusive_ptr<session>& s) override;
    void accept_paused(int error) override;
    // The address a redirected connection was sent to, as the firewall recorded it (SO_ORIGINAL_DST, IPv4).
    static bool original_destination(ACE_HANDLE handle, ACE_INET_Addr& destination);

    // For the connections.
    const server_settings& settings() const { return settings_; }
    // A transaction of the first extension that takes the request, then of the forward extension, or empty.
    boost::intrusive_ptr<ext_transaction_base>
    create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr& local,
                       const ACE_INET_Addr& remote, const boost::intrusive_ptr<response_handler>& response);
    // Whether a connection from `remote` to `local` may be served, counting it for its client; a connection
    // that is not admitted is forgotten like any other.
    bool admit(connection* c, const ACE_INET_Addr& remote, const ACE_INET_Addr& local);
    void forget(connection* c);
    void log(const boost::intrusive_ptr<log_record>& record, const ACE_INET_Addr& client);

    // Closes the connections whose deadline has passed by `now`; the timer calls it every second.
    void check_timeouts(std::chrono::steady_clock::time_point now);

protected:
    ~http_server() override;

private:
    // Makes the sessions of redirected connections.
    class interceptor : public session_manager {
    public:
        explicit interceptor(http_server& server) : server_(server) {}
        boost::intrusive_ptr<session> create_session() override { return server_.open_connection(true); }
        void session_failed(const boost::intrusive_ptr<session>& s) override { server_.session_failed(s); }
        void accept_paused(int error) override { server_.accept_paused(error); }

    private:
        http_server& server_;
    };

    boost::intrusive_ptr<session> open_connection(bool intercepted);
    void handle_time_out(const ACE_Time_Value& tv, const void* act) override;

    ACE_Proactor* proactor_;
    server_settings settings_;
    std::vector<boost::intrusive_ptr<extension>> extensions_;
    boost::intrusive_ptr<extension> forward_;
    boost::intrusive_ptr<acceptor> acceptor_;
    interceptor interceptor_{*this};
    boost::intrusive_ptr<acceptor> intercepting_;
    logger access_log_;
    long timer_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable closed_;
    std::map<connection*, boost::intrusive_ptr<connection>> connections_;
    // The connections each client address holds, and the address each admitted connection counts for.
    std::map<std::string, std::size_t> held_;
    std::map<connection*, std::string> counted_;
    bool accepting_ = false;
};

} // namespace tav::http
