#pragma once

// The proxy auto-configuration file that browsers fetch from /proxy.pac: every address goes through this
// proxy, at the address the browser reached it on, except the browser's own machine.

#include <tav/http/ext_transaction_base.hpp>

#include <ace/INET_Addr.h>

namespace tav::http {

class pac_file : public ext_transaction_base {
public:
    static constexpr const char* path = "/proxy.pac";

    pac_file(extension* owner, const boost::intrusive_ptr<response_handler>& response,
             const ACE_INET_Addr& local);

    void OnRequestHead(const request_head* head) override;
    void OnRequestBody(ACE_Message_Block* body, bool last) override;

private:
    ACE_INET_Addr local_;
};

} // namespace tav::http
