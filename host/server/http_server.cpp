#include "http_server.hpp"

#include "connection.hpp"

#include <tav/http/ext_transaction_base.hpp>

#include <ace/Proactor.h>

#include <linux/netfilter_ipv4.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>

namespace tav::http {

namespace {

// The proxy's decision ("allowed" or "refused") and the policy's reason for a refusal close each record.
const std::vector<std::string> access_fields{"date",       "time",      "c-ip",     "cs-method",
                                             "cs-uri",     "sc-status", "sc-bytes", "cs(User-Agent)",
                                             "x-decision", "x-reason"};

// Connections the system may hold for us before they are accepted (also the accepts kept outstanding): a
// burst of clients beyond it waits for the retransmission of its connection requests.
constexpr int listen_backlog = 1024;

} // namespace

http_server::http_server(ACE_Proactor* proactor, const server_settings& settings)
    : proactor_(proactor), settings_(settings), acceptor_(new acceptor), intercepting_(new acceptor) {
    ACE_Handler::proactor(proactor);
}

http_server::~http_server() = default;

void http_server::add_extension(const boost::intrusive_ptr<extension>& e) {
    extensions_.push_back(e);
}

void http_server::set_forward(const boost::intrusive_ptr<extension>& e) {
    forward_ = e;
}

bool http_server::is_site_method(const std::string& method) {
    return method == "GET" || method == "HEAD" || method == "POST";
}

std::string http_server::allowed_methods(const request_head& head) {
    if (!head.target.empty() && head.target.front() == '/')
        return "GET, HEAD, POST";
    return "DELETE, GET, HEAD, OPTIONS, PATCH, POST, PUT";
}

bool http_server::start(std::string& error) {
    if (!settings_.access_log.empty()) {
        try {
            access_log_.start(settings_.access_log, access_fields, true);
        } catch (const std::exception& e) {
            error = e.what();
            return false;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        accepting_ = true;
    }
    if (!acceptor_->start(settings_.listen, this, proactor_, listen_backlog, true)) {
        char address[64] = "";
        settings_.listen.addr_to_string(address, sizeof address);
        error = std::string("cannot listen on ") + address + ": " + std::strerror(errno);
        access_log_.stop();
        return false;
    }
    if (settings_.intercept_listen &&
        !intercepting_->start(*settings_.intercept_listen, &interceptor_, proactor_, listen_backlog, true)) {
        char address[64] = "";
        settings_.intercept_listen->addr_to_string(address, sizeof address);
        error = std::string("cannot listen for redirected connections on ") + address + ": " +
                std::strerror(errno);
        acceptor_->stop();
        access_log_.stop();
        return false;
    }
    timer_ = proactor_->schedule_timer(*this, nullptr, ACE_Time_Value(1), ACE_Time_Value(1));
    return true;
}

void http_server::stop(std::chrono::steady_clock::duration wait) {
    acceptor_->stop();
    intercepting_->stop();
    if (timer_ != -1)
        proactor_->cancel_timer(timer_);
    timer_ = -1;
    std::vector<boost::intrusive_ptr<connection>> open;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        accepting_ = false;
        for (const auto& c : connections_)
            open.push_back(c.second);
    }
    for (const auto& c : open)
        c->close_session();
    open.clear();
    // Connections close on the proactor's threads.
    std::unique_lock<std::mutex> lock(mutex_);
    closed_.wait_for(lock, wait, [this] { return connections_.empty(); });
    lock.unlock();
    access_log_.stop();
}

ACE_INET_Addr http_server::address() const {
    return acceptor_->address();
}

ACE_INET_Addr http_server::intercept_address() const {
    return intercepting_->address();
}

bool http_server::original_destination(ACE_HANDLE handle, ACE_INET_Addr& destination) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getsockopt(handle, SOL_IP, SO_ORIGINAL_DST, &address, &size) != 0 || address.sin_family != AF_INET)
        return false;
    return destination.set(&address, static_cast<int>(size)) == 0;
}

std::size_t http_server::connections() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return connections_.size();
}

boost::intrusive_ptr<session> http_server::create_session() {
    return open_connection(false);
}

boost::intrusive_ptr<session> http_server::open_connection(bool intercepted) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!accepting_ || connections_.size() >= settings_.max_connections)
        return nullptr;
    boost::intrusive_ptr<connection> c(new connection(this, intercepted));
    connections_.emplace(c.get(), c);
    return c;
}

bool http_server::admit(connection* c, const ACE_INET_Addr& remote, const ACE_INET_Addr& local) {
    char client[64] = "";
    char own[64] = "";
    remote.get_host_addr(client, sizeof client);
    local.get_host_addr(own, sizeof own);
    if (std::strcmp(client, own) == 0)
        return true;
    const std::size_t total = settings_.max_connections;
    const std::size_t kept = total > 1 ? std::max<std::size_t>(1, total / 8) : 0;
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t& held = held_[client];
    if (held >= std::min(settings_.max_connections_per_client, total - kept)) {
        if (held == 0)
            held_.erase(client);
        return false;
    }
    ++held;
    counted_.emplace(c, client);
    return true;
}

void http_server::session_failed(const boost::intrusive_ptr<session>& s) {
    forget(static_cast<connection*>(s.get()));
}

boost::intrusive_ptr<ext_transaction_base>
http_server::create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr& local,
                                const ACE_INET_Addr& remote,
                                const boost::intrusive_ptr<response_handler>& response) {
    const auto ask =
        [&](const boost::intrusive_ptr<extension>& e) -> boost::intrusive_ptr<ext_transaction_base> {
        try {
            return e->create_transaction(head, local, remote, response);
        } catch (const std::exception&) {
            return nullptr; // an extension that fails on a request declines it
        }
    };
    // A redirected connection asked for a site elsewhere, never for the service's own.
    if (head->intercepted)
        return forward_ != nullptr ? ask(forward_) : nullptr;
    // The browsers' proxy configuration is the proxy's to answer.
    if (forward_ != nullptr && head->target == "/proxy.pac")
        if (auto transaction = ask(forward_))
            return transaction;
    if (is_site_method(head->method))
        for (const auto& e : extensions_)
            if (auto transaction = ask(e))
                return transaction;
    const bool elsewhere = head->method == "CONNECT" || head->target.empty() || head->target.front() != '/';
    if (forward_ != nullptr && elsewhere)
        return ask(forward_);
    return nullptr;
}

void http_server::forget(connection* c) {
    {
        boost::intrusive_ptr<connection> gone; // let go after the lock is released
        const std::lock_guard<std::mutex> lock(mutex_);
        auto found = connections_.find(c);
        if (found != connections_.end()) {
            gone = std::move(found->second);
            connections_.erase(found);
        }
        if (const auto counted = counted_.find(c); counted != counted_.end()) {
            if (--held_[counted->second] == 0)
                held_.erase(counted->second);
            counted_.erase(counted);
        }
        if (connections_.empty())
            closed_.notify_all();
    }
    // A descriptor is free: accepts that wait for one go on now.
    acceptor_->resume();
    intercepting_->resume();
}

void http_server::accept_paused(int error) {
    std::cerr << "HTTP server: no descriptor for a new connection (" << std::strerror(error)
              << "); connections wait until one is free" << std::endl;
}

void http_server::log(const boost::intrusive_ptr<log_record>& record, const ACE_INET_Addr& client) {
    char ip[64] = "";
    client.get_host_addr(ip, sizeof ip);
    record->stamp();
    record->set_field("c-ip", ip, true);
    access_log_.log(record);
}

void http_server::check_timeouts(std::chrono::steady_clock::time_point now) {
    std::vector<boost::intrusive_ptr<connection>> open;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& c : connections_)
            open.push_back(c.second);
    }
    for (const auto& c : open)
        c->check_deadline(now);
}

void http_server::handle_time_out(const ACE_Time_Value& /*tv*/, const void* /*act*/) {
    check_timeouts(settings_.clock->now());
}

} // namespace tav::http
