#include "forward_proxy.hpp"

#include "relay.hpp"

#include <quorrel/DataModel.hpp>
#include <tav/http/ext_transaction_base.hpp>
#include <tav/http/html.hpp>

#include <algorithm>
#include <limits>

namespace tav::http {

namespace {

// Runs the functions posted to it.
class loop_commands : public aio_cmd_handler {
public:
    explicit loop_commands(ACE_Proactor* p) { proactor(p); }
    void handle_cmd(aio_cmd* cmd) override { cmd->execute(this); }
};

void fill(std::string& page, const std::string& placeholder, const std::string& value) {
    for (std::size_t at = page.find(placeholder); at != std::string::npos;
         at = page.find(placeholder, at + value.size()))
        page.replace(at, placeholder.size(), value);
}

} // namespace

forward_proxy::forward_proxy(ACE_Proactor* proactor, DataModel* model, std::shared_ptr<name_resolver> names)
    : proactor_(proactor), model_(model), names_(std::move(names)), loop_(new loop_commands(proactor)) {}

forward_proxy::~forward_proxy() = default;

boost::intrusive_ptr<ext_transaction_base>
forward_proxy::create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr& local,
                                  const ACE_INET_Addr& remote,
                                  const boost::intrusive_ptr<response_handler>& response) {
    if (head->method == "CONNECT" || head->uri.scheme() != "http")
        return nullptr;
    return new relay(*this, response, local, remote);
}

bool forward_proxy::enqueue_request(const boost::intrusive_ptr<ext_transaction_base>& transaction,
                                    ACE_Message_Block* body, bool last) {
    transaction->OnRequestBody(body, last);
    return true;
}

bool forward_proxy::enqueue_transaction(const boost::intrusive_ptr<ext_transaction_base>& transaction) {
    transaction->OnRequestHead(&transaction->get_request_head());
    return true;
}

void forward_proxy::on_transaction_close(ext_transaction_base* /*transaction*/) {}

bool forward_proxy::allowed(const std::string& client, const tav::uri& target, std::string& reason) const {
    return model_ == nullptr || model_->IsAllowed(client, target, PROTO_HTTP, reason);
}

std::string forward_proxy::blocking_page(const std::string& reason, const tav::uri& target) const {
    std::string page = model_ != nullptr ? model_->GetForbiddenPageTemplate() : std::string();
    if (page.empty())
        page = "<!DOCTYPE html>\n<html><body><h1>This page is blocked</h1><p>{{REASON}}</p><p>{{URL}}</p>"
               "</body></html>\n";
    std::string url;
    target.flatten(url, tav::uri::all_bits);
    fill(page, "{{REASON}}", escape_html(reason));
    fill(page, "{{URL}}", escape_html(url));
    return page;
}

void forward_proxy::count(const std::string& client, std::uint64_t bytes) const {
    if (model_ == nullptr)
        return;
    model_->TickClientTime(client);
    while (bytes > 0) {
        const auto part = static_cast<std::int32_t>(std::min<std::uint64_t>(
            bytes, static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())));
        model_->TickClientTraffic(client, part);
        bytes -= static_cast<std::uint64_t>(part);
    }
}

} // namespace tav::http
