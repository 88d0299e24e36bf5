#pragma once

// tav::http::admin::AdminPluginTransaction - one request to the administration site: collects the form
// body and, with its last piece, has the extension render the answer and sends it; a request that the site
// refuses before reading it gets 403 with the reason instead.

#include <quorrel/export.hpp>
#include <tav/http/ext_transaction_base.hpp>

#include <string>

namespace tav::http::admin {

class AdminPlugin;

class QUORREL_EXPORT AdminPluginTransaction : public tav::http::ext_transaction_base {
public:
    // `client`: the address of the client that asks; `refusal`: why the site does not read the request,
    // or empty.
    AdminPluginTransaction(AdminPlugin* owner,
                           const boost::intrusive_ptr<tav::http::response_handler>& response,
                           std::string client, std::string refusal = std::string());

    void OnRequestBody(ACE_Message_Block* body, bool last) override;

protected:
    ~AdminPluginTransaction() override;

private:
    std::string m_client;
    std::string m_refusal;
    std::string m_body;
};

} // namespace tav::http::admin
