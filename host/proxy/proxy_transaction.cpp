#include "proxy_transaction.hpp"

#include <tav/msg.hpp>

#include <algorithm>
#include <cstring>
#include <limits>

namespace tav::http {

namespace {

// The client may fall this far behind before reading from the origin pauses, and reading resumes once it
// has caught up to the lower mark: the proxy never holds more of an answer than that. The same marks hold
// the client's body back while the origin takes it slowly.
constexpr std::size_t pause_above = std::size_t{256} * 1024;
constexpr std::size_t resume_below = std::size_t{64} * 1024;

// Usage is reported this often while bytes move: well within the model's five minutes of continuous use.
constexpr auto report_every = std::chrono::seconds(10);

} // namespace

proxy_transaction::proxy_transaction(forward_proxy& proxy,
                                     const boost::intrusive_ptr<response_handler>& response,
                                     const ACE_INET_Addr& local, const ACE_INET_Addr& client)
    : ext_transaction_base(&proxy, response), proxy_(proxy), local_(local), keep_proxy_(&proxy),
      last_activity_(proxy.settings().clock->now().time_since_epoch().count()),
      last_report_(proxy.settings().clock->now()) {
    char text[64] = "";
    client.get_host_addr(text, sizeof text);
    client_ = text;
}

boost::intrusive_ptr<log_record> proxy_transaction::decision(const char* verdict, const std::string& reason) {
    if (std::strcmp(verdict, "refused") == 0)
        proxy_.record_refusal(client_, verdict_.GetGroupID(), secure_, site_, site_path_, reason);
    boost::intrusive_ptr<log_record> record(new log_record);
    record->set_field("x-decision", verdict, true);
    if (!reason.empty())
        record->set_field("x-reason", reason, true);
    else if (safe_)
        record->set_field("x-reason", "safe:" + safe_.address, true);
    return record;
}

proxy_transaction::~proxy_transaction() {
    release_msg(waiting_body_);
}

void proxy_transaction::dial(const std::string& host, unsigned short port, bool reuse) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (over_)
        return;
    host_ = host;
    port_ = port;
    dialed_ = true;
    proxy_.watch(this);
    open(reuse);
}

void proxy_transaction::open(bool reuse) {
    boost::intrusive_ptr<proxy_transaction> self(this);
    proxy_.open_origin(host_, port_, local_, reuse,
                       [self](const boost::intrusive_ptr<aio_socket_stream>& stream, bool reused, int status,
                              const std::string& why) {
                           if (stream != nullptr)
                               self->connected(stream, reused);
                           else
                               self->fail(status, why);
                       });
}

void proxy_transaction::connected(const boost::intrusive_ptr<aio_socket_stream>& stream, bool reused) {
    // The stream's callbacks take its lock, then the transaction's: the handler is set before the latter.
    stream->set_handler(this);
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (over_) {
        stream->shutdown();
        return;
    }
    upstream_ = stream;
    reused_ = reused;
    // A connection of the pool that closed before it was taken is not told so again.
    if (reused && (stream->status() & aio_socket_stream::closed) != 0) {
        if (!retry())
            fail(502, "The site closed the connection before it answered.");
        return;
    }
    touch();
    on_connected();
    if (over_)
        return;
    if (waiting_body_ != nullptr || request_done_)
        send_upstream(std::exchange(waiting_body_, nullptr), request_done_);
    if (upstream_unsent_ <= pause_above)
        hold_body(false); // the body held while the connection was being made
    stream->start_reading();
}

bool proxy_transaction::retry() {
    if (!reused_ || over_ || body_sent_ > 0)
        return false;
    reused_ = false;
    if (upstream_ != nullptr)
        std::exchange(upstream_, nullptr)->shutdown();
    open(false);
    return true;
}

bool proxy_transaction::keep_upstream() {
    if (!request_done_ || waiting_body_ != nullptr || upstream_ == nullptr)
        return false;
    reused_ = false;
    proxy_.pool().give(host_, port_, std::exchange(upstream_, nullptr));
    return true;
}

void proxy_transaction::OnRequestBody(ACE_Message_Block* body, bool last) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    request_done_ = request_done_ || last;
    if (over_) {
        release_msg(body);
        return;
    }
    if (upstream_ == nullptr) {
        append_msg(waiting_body_, body);
        if (waiting_body_ != nullptr && waiting_body_->total_length() > pause_above)
            hold_body(true);
        return;
    }
    send_upstream(body, last);
}

ACE_Message_Block* proxy_transaction::frame_upstream(ACE_Message_Block* body, bool /*last*/) {
    return body;
}

void proxy_transaction::send_upstream(ACE_Message_Block* body, bool last) {
    ACE_Message_Block* out = frame_upstream(body, last);
    if (out != nullptr && out->total_length() == 0)
        release_msg(out);
    if (out != nullptr) {
        unreported_ += out->total_length();
        body_sent_ += out->total_length();
        write_upstream(out);
    }
    if (last)
        on_request_sent();
}

void proxy_transaction::write_upstream(ACE_Message_Block* chain) {
    const std::size_t size = chain->total_length();
    if (upstream_->write(chain, this, chain) != aio_error::ok) {
        release_msg(chain);
        return;
    }
    upstream_writes_.push_back(size);
    upstream_unsent_ += size;
    if (upstream_unsent_ > pause_above)
        hold_body(true);
}

void proxy_transaction::hold_body(bool hold) {
    if (hold == holding_body_)
        return;
    holding_body_ = hold;
    get_response_handler().hold_request_body(hold);
}

bool proxy_transaction::handle_input(const boost::intrusive_ptr<aio_socket_stream>& stream) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    ACE_Message_Block& in = stream->input_buffer();
    touch();
    if (!over_ && take_input(in, (stream->status() & aio_socket_stream::peer_closed) != 0))
        return true;
    if (over_)
        in.rd_ptr(in.length());
    return false;
}

void proxy_transaction::pass_down(const char* data, std::size_t size) {
    if (size == 0)
        return;
    unreported_ += size;
    send_response_body(data, size);
}

bool proxy_transaction::client_caught_up() {
    response_handler& client = get_response_handler();
    if (client.unsent() <= pause_above)
        return true;
    waiting_for_client_ = true;
    boost::intrusive_ptr<proxy_transaction> self(this);
    client.on_drained(resume_below, [self] {
        boost::intrusive_ptr<aio_socket_stream> stream;
        {
            const std::lock_guard<std::recursive_mutex> lock(self->mutex_);
            self->waiting_for_client_ = false;
            self->touch();
            stream = self->upstream_;
        }
        if (stream != nullptr)
            stream->start_reading();
    });
    return false;
}

void proxy_transaction::fail(int status, const std::string& why) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (end())
        respond_error(status, why.c_str());
}

bool proxy_transaction::end() {
    if (over_)
        return false;
    over_ = true;
    hold_body(false); // what is left of the body is read and dropped
    report();
    if (upstream_ != nullptr)
        upstream_->shutdown();
    proxy_.forget(this);
    return true;
}

void proxy_transaction::touch() {
    last_activity_ = proxy_.settings().clock->now().time_since_epoch().count();
}

void proxy_transaction::report() {
    if (!dialed_)
        return;
    verdict_.TickTime();
    const std::uint64_t moved = std::exchange(unreported_, 0);
    if (moved > 0)
        proxy_.record_use(client_, verdict_.GetGroupID(), site_.empty() ? host_ : site_, moved);
    for (std::uint64_t bytes = moved; bytes > 0;) {
        const auto part = static_cast<std::int32_t>(std::min<std::uint64_t>(
            bytes, static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())));
        verdict_.TickTraffic(part);
        bytes -= static_cast<std::uint64_t>(part);
    }
    last_report_ = proxy_.settings().clock->now();
}

void proxy_transaction::check(clock::time_point now) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (over_)
        return;
    if (unreported_ > 0 && now - last_report_ >= report_every)
        report();
    on_check(now);
    if (over_)
        return;
    const clock::time_point last{clock::duration(last_activity_)};
    if (!waiting_for_client_ && now - last >= proxy_.settings().origin_timeout)
        on_silent_origin();
}

void proxy_transaction::on_silent_origin() {
    fail(504, "The site did not answer in time.");
}

void proxy_transaction::on_origin_closed() {
    fail(502, "The site closed the connection before it answered.");
}

void proxy_transaction::handle_input_error(const boost::intrusive_ptr<aio_socket_stream>& /*stream*/,
                                           const aio_error& /*error*/) {}

void proxy_transaction::handle_close(const boost::intrusive_ptr<aio_socket_stream>& stream) {
    {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        // A connection given up for another (or to the pool) has nothing more to say.
        if (upstream_ == stream) {
            upstream_.reset();
            if (!over_)
                on_origin_closed();
        }
    }
    if (stream->get_handler() == this)
        stream->set_handler(nullptr);
}

void proxy_transaction::handle_written(const boost::intrusive_ptr<aio_socket_stream>& /*stream*/,
                                       const void* act) {
    auto* chain = static_cast<ACE_Message_Block*>(const_cast<void*>(act));
    release_msg(chain);
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    touch();
    if (!upstream_writes_.empty()) {
        upstream_unsent_ -= upstream_writes_.front();
        upstream_writes_.pop_front();
    }
    if (holding_body_ && upstream_unsent_ <= resume_below)
        hold_body(false);
}

void proxy_transaction::handle_write_error(const boost::intrusive_ptr<aio_socket_stream>& stream,
                                           const void* act, const aio_error& /*error*/) {
    handle_written(stream, act);
}

void proxy_transaction::terminate_request() {
    ext_transaction_base::terminate_request();
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    end();
}

void proxy_transaction::OnTerminate() {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    end();
}

} // namespace tav::http
