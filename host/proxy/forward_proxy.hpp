#pragma once

// The forward proxy: the extension that takes the requests for other servers that the site does not take.
//
// Each request with an absolute http:// target becomes a relay, each CONNECT a tunnel. The policy decides it
// first, with the client's address, the target and the protocol; a refused request gets the blocking page,
// a refused tunnel a short refusal. An allowed one goes to its origin server, whose name the resolver turns
// into an address off the loop threads, and the answer comes back as it arrives. The proxy's transactions
// run on the proactor's threads: no thread of their own, no blocking call. A timer looks at the
// transactions that wait on an origin every second. Without a policy (tests of the relaying alone)
// everything is allowed and nothing is filtered.
//
// When the client's group restricts searches or YouTube, a request or tunnel to a host of the safe search
// table of the verdict's policy goes to the host's safe address instead (see SafeSearch); the client still
// speaks to the host it named, so nothing needs to be decrypted.
//
// Each computer's use of the sites and each refusal go into the activity history that the proxy is given.

#include "local_addresses.hpp"
#include "name_resolver.hpp"
#include "origin_pool.hpp"
#include "steady_source.hpp"

#include <quorrel/DataModel.hpp>
#include <quorrel/SafeSearch.hpp>
#include <tav/aio_cmd.hpp>
#include <tav/aio_socket_stream.hpp>
#include <tav/http/extension.hpp>

#include <ace/Asynch_IO.h>

#include <boost/intrusive_ptr.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace tav {
class ActivityLog;
}

namespace tav::http {

class proxy_transaction;

struct proxy_settings {
    // The ports that CONNECT may reach.
    std::set<unsigned short> connect_ports{443};
    // The ports whose tunnels are relayed unexamined; every other tunnel must open with a TLS handshake.
    std::set<unsigned short> opaque_ports;
    // Whether the filter machine itself and link-local addresses may be reached (see local_addresses).
    bool allow_local = false;
    // The administration site's address, for the link on the page of an unknown computer.
    std::string site = "http://admin.tollwick/";
    // How long a tunnel's client may take to send its whole TLS ClientHello.
    std::chrono::steady_clock::duration handshake_timeout = std::chrono::seconds(10);
    // The largest HTML answer whose words are checked before it is released; larger ones stream unchecked.
    std::size_t checked_body_limit = std::size_t{2} * 1024 * 1024;
    // How long an origin may send and take nothing before the transaction ends (504 before its answer).
    std::chrono::steady_clock::duration origin_timeout = std::chrono::seconds(60);
    // Idle origin connections kept per origin and in all, and how long each is kept.
    std::size_t idle_per_origin = 64;
    std::size_t idle_total = 1024;
    std::chrono::steady_clock::duration idle_timeout = std::chrono::seconds(30);
    // Where the timeouts and the pool read the time.
    std::shared_ptr<const steady_source> clock = std::make_shared<steady_source>();
};

class forward_proxy : public extension, public ACE_Handler {
public:
    // The open stream (and whether it came from the pool), or the status and reason of the failure.
    using opened = std::function<void(const boost::intrusive_ptr<aio_socket_stream>& stream, bool reused,
                                      int status, const std::string& why)>;

    // `model` may be null; `names` is shared with whoever else resolves; `history`, which may be null for
    // none, must outlive the proxy.
    forward_proxy(ACE_Proactor* proactor, DataModel* model, std::shared_ptr<name_resolver> names,
                  proxy_settings settings = {}, ActivityLog* history = nullptr);
    // Stops the timer; the transactions end with their connections.
    void stop();

    boost::intrusive_ptr<ext_transaction_base>
    create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr& local,
                       const ACE_INET_Addr& remote,
                       const boost::intrusive_ptr<response_handler>& response) override;
    // The transactions are driven directly, on the threads that hand them their request.
    bool enqueue_request(const boost::intrusive_ptr<ext_transaction_base>& transaction,
                         ACE_Message_Block* body, bool last) override;
    bool enqueue_transaction(const boost::intrusive_ptr<ext_transaction_base>& transaction) override;
    void on_transaction_close(ext_transaction_base* transaction) override;
    aio_cmd_handler* get_aio_handler() override { return loop_.get(); }

    // For the transactions.
    const proxy_settings& settings() const { return settings_; }
    // Takes an idle connection to host:port from the pool when `reuse`, or resolves host, refuses the proxy's
    // own address `local` (and every local one unless they are allowed), and connects; `done` hears of the
    // outcome on a loop thread.
    void open_origin(const std::string& host, unsigned short port, const ACE_INET_Addr& local, bool reuse,
                     const opened& done);
    // The idle origin connections, named "host:port".
    origin_pool& pool() { return pool_; }
    // Whether the client may open the address now, and how its answer is checked; without a policy,
    // everything is allowed and nothing checked.
    DataModel::Verdict decide(const std::string& client, const tav::uri& target, PROTOS protocol) const;
    // Puts a client's use of a site, and a refusal, into the service's history, when it keeps one.
    void record_use(const std::string& client, const std::string& group, const std::string& host,
                    std::uint64_t bytes) const;
    void record_refusal(const std::string& client, const std::string& group, bool secure,
                        const std::string& host, const std::string& path, const std::string& reason) const;
    // The blocking page for a refused address. A computer that the policy does not know also gets its
    // address and a link to the administration's form that puts it into a group.
    std::string blocking_page(const std::string& reason, const tav::uri& target, const std::string& client,
                              const DataModel::Verdict& verdict) const;
    // The transactions that wait on an origin, for the timer.
    void watch(const boost::intrusive_ptr<proxy_transaction>& transaction);
    void forget(proxy_transaction* transaction);

    void handle_time_out(const ACE_Time_Value& tv, const void* act) override;

protected:
    ~forward_proxy() override;

private:
    // Runs `f` later on a loop thread.
    template <class F> void post(const F& f) { post_call(loop_, f); }

    ACE_Proactor* proactor_;
    DataModel* model_;
    ActivityLog* history_;
    std::shared_ptr<name_resolver> names_;
    proxy_settings settings_;
    origin_pool pool_;
    local_addresses locals_;
    boost::intrusive_ptr<aio_cmd_handler> loop_;
    long timer_ = -1;
    std::mutex watched_mutex_;
    std::set<boost::intrusive_ptr<proxy_transaction>> watched_;
};

} // namespace tav::http
