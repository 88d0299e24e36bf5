#pragma once

// tav::http::admin::AdminPluginTransaction - one request to the administration site: collects the form
// body and, with its last piece, has the extension render the answer and sends it.

#include <quorrel/export.hpp>
#include <tav/http/ext_transaction_base.hpp>

#include <string>

namespace tav::http::admin {

class AdminPlugin;

class QUORREL_EXPORT AdminPluginTransaction : public tav::http::ext_transaction_base {
public:
    // `client`: the address of the client that asks.
    AdminPluginTransaction(AdminPlugin* owner,
                           const boost::intrusive_ptr<tav::http::response_handler>& response,
                           std::string client);

    void OnRequestBody(ACE_Message_Block* body, bool last) override;

protected:
    ~AdminPluginTransaction() override;

private:
    std::string m_client;
    std::string m_body;
};

} // namespace tav::http::admin
