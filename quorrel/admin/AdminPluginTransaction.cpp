#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/AdminPluginTransaction.hpp>
#include <tav/http/atom.hpp>
#include <tav/msg.hpp>

#include <utility>

namespace tav::http::admin {

AdminPluginTransaction::AdminPluginTransaction(
    AdminPlugin* owner, const boost::intrusive_ptr<tav::http::response_handler>& response, std::string client,
    std::string refusal)
    : ext_transaction_base(owner, response), m_client(std::move(client)), m_refusal(std::move(refusal)) {}

AdminPluginTransaction::~AdminPluginTransaction() = default;

void AdminPluginTransaction::OnRequestBody(ACE_Message_Block* body, bool last) {
    if (body != nullptr && m_refusal.empty())
        m_body.append(body->rd_ptr(), body->length());
    tav::release_msg(body);
    if (!last)
        return;
    if (!m_refusal.empty()) {
        respond_error(403, m_refusal.c_str());
        return;
    }
    try {
        tav::msg_auto_release collected(tav::make_msg(m_body.data(), static_cast<unsigned>(m_body.size())));
        auto* plugin = static_cast<AdminPlugin*>(get_extension().get());
        SiteAnswer answer;
        plugin->HandleRequest(get_request_head().uri, collected.get(), m_client, answer);
        auto head = tav::http::response_head::create(answer.status, nullptr, tav::http::version::one_one_);
        if (head == nullptr) {
            respond_error(500, "response_head::create() failed");
            return;
        }
        head->headers.set(tav::http::atom::content_type_header, answer.contentType);
        for (const auto& field : answer.fields)
            head->headers.set(tav::http::atom::intern(field.first), field.second);
        send_response_head(head);
        send_response_body(answer.body.empty() ? nullptr : answer.body.data(), answer.body.size());
        send_response_end(nullptr);
    } catch (...) {
        respond_error(500, "Unhandled exception from AdminPlugin::OnRequestBody()");
    }
}

} // namespace tav::http::admin
