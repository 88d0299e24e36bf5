#include "forward_proxy.hpp"

#include <quorrel/ActivityLog.hpp>

#include "pac_file.hpp"
#include "relay.hpp"
#include "tunnel.hpp"

#include <ace/Proactor.h>
#include <tav/connector.hpp>
#include <tav/http/ext_transaction_base.hpp>
#include <tav/http/html.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tav::http {

namespace {

// Runs the functions posted to it.
class loop_commands : public aio_cmd_handler {
public:
    explicit loop_commands(ACE_Proactor* p) { proactor(p); }
    void handle_cmd(aio_cmd* cmd) override { cmd->execute(this); }
};

// Opens one connection to an origin and hands it on.
class origin_connector : public connector {
public:
    explicit origin_connector(forward_proxy::opened done) : done_(std::move(done)) {}
    boost::intrusive_ptr<aio_socket_stream> create_stream() override { return new aio_socket_stream; }
    void on_connected(const boost::intrusive_ptr<aio_socket_stream>& stream) override {
        std::exchange(done_, nullptr)(stream, false, 0, std::string());
    }
    void on_connect_failed(const boost::intrusive_ptr<aio_socket_stream>& /*stream*/,
                           unsigned long error) override {
        std::exchange(done_, nullptr)(nullptr, false, 502,
                                      std::string("The site cannot be reached (") +
                                          std::strerror(static_cast<int>(error)) + ").");
    }

private:
    forward_proxy::opened done_;
};

// The template with each placeholder of `values` filled, in one pass over the template: text that a value
// brings (an address may hold "{{HELP}}") is never read as a placeholder.
std::string fill(const std::string& page, const std::vector<std::pair<std::string, std::string>>& values) {
    std::string filled;
    std::size_t at = 0;
    for (std::size_t open = page.find("{{"); open != std::string::npos; open = page.find("{{", at)) {
        filled.append(page, at, open - at);
        const auto value = std::find_if(values.begin(), values.end(), [&](const auto& v) {
            return page.compare(open, v.first.size(), v.first) == 0;
        });
        filled += value != values.end() ? value->second : "{{";
        at = open + (value != values.end() ? value->first.size() : 2);
    }
    return filled.append(page, at, std::string::npos);
}

} // namespace

forward_proxy::forward_proxy(ACE_Proactor* proactor, DataModel* model, std::shared_ptr<name_resolver> names,
                             proxy_settings settings, ActivityLog* history)
    : ACE_Handler(proactor), proactor_(proactor), model_(model), history_(history), names_(std::move(names)),
      settings_(std::move(settings)),
      pool_(settings_.idle_per_origin, settings_.idle_total, settings_.idle_timeout, settings_.clock),
      locals_(settings_.clock), loop_(new loop_commands(proactor)) {
    timer_ = proactor_->schedule_timer(*this, nullptr, ACE_Time_Value(1), ACE_Time_Value(1));
}

forward_proxy::~forward_proxy() {
    stop();
}

void forward_proxy::stop() {
    if (timer_ != -1)
        proactor_->cancel_timer(timer_);
    timer_ = -1;
    pool_.expire(settings_.clock->now(), true);
}

boost::intrusive_ptr<ext_transaction_base>
forward_proxy::create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr& local,
                                  const ACE_INET_Addr& remote,
                                  const boost::intrusive_ptr<response_handler>& response) {
    if (head->method == "CONNECT")
        return new tunnel(*this, response, local, remote);
    if (head->intercepted)
        return new relay(*this, response, local, remote);
    if (!head->target.empty() && head->target.front() == '/')
        return head->target == pac_file::path ? new pac_file(this, response, local) : nullptr;
    if (head->uri.scheme() != "http")
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

void forward_proxy::open_origin(const std::string& host, unsigned short port, const ACE_INET_Addr& local,
                                bool reuse, const opened& done) {
    boost::intrusive_ptr<forward_proxy> self(this);
    if (reuse) {
        if (boost::intrusive_ptr<aio_socket_stream> idle = pool_.take(host, port)) {
            post([done, idle] { done(idle, true, 0, std::string()); });
            return;
        }
    }
    names_->resolve(host, port, [self, local, done](const std::string& error, const ACE_INET_Addr& origin) {
        try {
            self->post([self, local, done, error, origin] {
                if (!error.empty()) {
                    done(nullptr, false, 502, "The name of the site cannot be found (" + error + ").");
                    return;
                }
                // A request for the proxy's own address would come back to it without end.
                if (origin.get_port_number() == local.get_port_number() &&
                    (origin.get_ip_address() == local.get_ip_address() || origin.is_loopback() ||
                     origin.is_any())) {
                    done(nullptr, false, 403, "The proxy does not relay requests to itself.");
                    return;
                }
                if (!self->settings_.allow_local && self->locals_.contains(origin)) {
                    done(nullptr, false, 403,
                         "The filter does not lead to the machine it runs on, nor to link-local addresses.");
                    return;
                }
                boost::intrusive_ptr<origin_connector> connect(new origin_connector(done));
                if (!connect->open(self->proactor_) || !connect->connect(origin, false))
                    done(nullptr, false, 502, "The site cannot be reached.");
            });
        } catch (const std::exception&) {
            // The loop has stopped taking work: the service is ending, and so is the client.
        }
    });
}

DataModel::Verdict forward_proxy::decide(const std::string& client, const tav::uri& target,
                                         PROTOS protocol) const {
    return model_ != nullptr ? model_->Decide(client, target, protocol) : DataModel::Verdict();
}

void forward_proxy::record_use(const std::string& client, const std::string& group, const std::string& host,
                               std::uint64_t bytes) const {
    if (history_ != nullptr && model_ != nullptr)
        history_->Record(
            ActivityLog::Use{static_cast<std::time_t>(model_->GetClock().Now()), client, group, host, bytes});
}

void forward_proxy::record_refusal(const std::string& client, const std::string& group, bool secure,
                                   const std::string& host, const std::string& path,
                                   const std::string& reason) const {
    if (history_ != nullptr && model_ != nullptr)
        history_->Record(ActivityLog::Refusal{static_cast<std::time_t>(model_->GetClock().Now()), client,
                                              group, secure ? "https" : "http", host, path, reason});
}

std::string forward_proxy::blocking_page(const std::string& reason, const tav::uri& target,
                                         const std::string& client, const DataModel::Verdict& verdict) const {
    std::string page = model_ != nullptr ? model_->GetForbiddenPageTemplate() : std::string();
    if (page.empty())
        page = "<!DOCTYPE html>\n<html><body><h1>This page is blocked</h1><p>{{REASON}}</p><p>{{URL}}</p>"
               "{{HELP}}</body></html>\n";
    std::string url;
    target.flatten(url, tav::uri::all_bits);
    std::string help;
    if (model_ != nullptr && !verdict.IsClientKnown())
        // The form is behind the administrator's login, so the link lets no one in by itself.
        help = "<p>This computer, " + escape_html(client) + ", is in no group of the filter yet. <a href=\"" +
               escape_html(settings_.site + "?client=" + client) +
               "\">Put it into a group</a> (the filter's administrator password is asked).</p>";
    return fill(page,
                {{"{{REASON}}", escape_html(reason)}, {"{{URL}}", escape_html(url)}, {"{{HELP}}", help}});
}

void forward_proxy::watch(const boost::intrusive_ptr<proxy_transaction>& transaction) {
    const std::lock_guard<std::mutex> lock(watched_mutex_);
    watched_.insert(transaction);
}

void forward_proxy::forget(proxy_transaction* transaction) {
    boost::intrusive_ptr<proxy_transaction> gone; // let go after the lock is released
    const std::lock_guard<std::mutex> lock(watched_mutex_);
    const auto found = watched_.find(boost::intrusive_ptr<proxy_transaction>(transaction));
    if (found != watched_.end()) {
        gone = *found;
        watched_.erase(found);
    }
}

void forward_proxy::handle_time_out(const ACE_Time_Value& /*tv*/, const void* /*act*/) {
    std::vector<boost::intrusive_ptr<proxy_transaction>> now_watched;
    {
        const std::lock_guard<std::mutex> lock(watched_mutex_);
        now_watched.assign(watched_.begin(), watched_.end());
    }
    const auto now = settings_.clock->now();
    for (const auto& transaction : now_watched)
        transaction->check(now);
    pool_.expire(now);
}

} // namespace tav::http
