#pragma once

// The forward proxy: the extension that takes the requests for other servers that the site does not take.
//
// Each request with an absolute http:// target becomes a relay. The policy decides it first, with the
// client's address, the target and the protocol; a refused request gets the blocking page. An allowed one
// goes to its origin server, whose name the resolver turns into an address off the loop threads, and the
// answer comes back as it arrives. The proxy's relays run on the proactor's threads: no thread of their own,
// no blocking call. Without a policy (tests of the relaying alone) every request is allowed.

#include "name_resolver.hpp"

#include <tav/aio_cmd.hpp>
#include <tav/http/extension.hpp>

#include <boost/intrusive_ptr.hpp>

#include <memory>
#include <string>

namespace tav {
class DataModel;
}

namespace tav::http {

class forward_proxy : public extension {
public:
    // `model` may be null; `names` is shared with whoever else resolves.
    forward_proxy(ACE_Proactor* proactor, DataModel* model, std::shared_ptr<name_resolver> names);

    boost::intrusive_ptr<ext_transaction_base>
    create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr& local,
                       const ACE_INET_Addr& remote,
                       const boost::intrusive_ptr<response_handler>& response) override;
    // The relays are driven directly, on the threads that hand them their request.
    bool enqueue_request(const boost::intrusive_ptr<ext_transaction_base>& transaction,
                         ACE_Message_Block* body, bool last) override;
    bool enqueue_transaction(const boost::intrusive_ptr<ext_transaction_base>& transaction) override;
    void on_transaction_close(ext_transaction_base* transaction) override;
    aio_cmd_handler* get_aio_handler() override { return loop_.get(); }

    // For the relays.
    ACE_Proactor* proactor() const { return proactor_; }
    name_resolver& names() const { return *names_; }
    // Runs `f` later on a loop thread.
    template <class F> void post(const F& f) { post_call(loop_, f); }
    // Whether the client may open the address now; a refusal's reason in `reason`.
    bool allowed(const std::string& client, const tav::uri& target, std::string& reason) const;
    // The blocking page for a refused address.
    std::string blocking_page(const std::string& reason, const tav::uri& target) const;
    // Reports a client's use: one request, and the bytes it moved both ways.
    void count(const std::string& client, std::uint64_t bytes) const;

protected:
    ~forward_proxy() override;

private:
    ACE_Proactor* proactor_;
    DataModel* model_;
    std::shared_ptr<name_resolver> names_;
    boost::intrusive_ptr<aio_cmd_handler> loop_;
};

} // namespace tav::http
