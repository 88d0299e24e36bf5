#include "connection.hpp"

#include "exchange.hpp"
#include "http_server.hpp"

#include <tav/msg.hpp>

namespace tav::http {

namespace {

// Requests whose answers may wait at once before reading pauses.
constexpr std::size_t answers_waiting = 16;

// The first byte of a TLS record that carries a handshake.
constexpr char tls_handshake = 0x16;

// A chain on its way to the client, with the answer it belongs to.
struct sent_chain {
    ACE_Message_Block* chain;
    boost::intrusive_ptr<exchange> from;
    std::size_t bytes;
};

} // namespace

connection::connection(const boost::intrusive_ptr<http_server>& server, bool intercepted)
    : server_(server), stream_(new aio_socket_stream), intercepted_(intercepted) {}

connection::~connection() = default;

bool connection::open_session(ACE_HANDLE handle, ACE_Message_Block& initial_data, ACE_Proactor* proactor,
                              const ACE_INET_Addr& remote, const ACE_INET_Addr& local) {
    if (!server_->admit(this, remote, local))
        return false;
    if (intercepted_) {
        const auto& find = server_->settings().original_destination;
        // A connection sent to the service itself would come back to it without end.
        if (!(find ? find(handle, destination_) : http_server::original_destination(handle, destination_)) ||
            destination_ == local)
            return false;
        char address[64] = "";
        destination_.addr_to_string(address, sizeof address);
        const std::string site = std::string("http://") + address + "/";
        if (!destination_site_.parse_absolute(site.data(), site.data() + site.size()))
            return false;
    }
    if (!stream_->open(handle, initial_data, proactor, remote, local))
        return false;
    remote_ = remote;
    local_ = local;
    // A connection that sends nothing is let go as soon as a slow request head would be.
    set_deadline(intercepted_ ? server_->settings().intercept_timeout : server_->settings().head_timeout);
    // A client that has sent its last request may end its side and still read the answers.
    stream_->allow_half_close(true);
    stream_->set_handler(this);
    return stream_->start_reading() == aio_error::ok;
}

void connection::close_session() {
    clear_deadline();
    stream_->shutdown();
}

bool connection::handle_input(const stream_ptr& stream) {
    ACE_Message_Block& in = stream->input_buffer();
    const bool more = read_requests(in);
    // A paused connection hears of the client's end once it has read what came before it.
    if (more && (stream->status() & aio_socket_stream::peer_closed))
        peer_closed();
    flush_waiters();
    return more;
}

void connection::hold_input(bool hold) {
    const auto lock = this->lock();
    body_held_ = hold;
    if (!hold && paused_for_body_) {
        paused_for_body_ = false;
        stream_->start_reading();
    }
}

void connection::abandon(exchange& answer) {
    // An answer the client has begun to receive is logged, whether or not it waited for the end.
    if (answer.begun())
        server_->log(answer.record(), remote_);
    if (std::function<void()> waiter = answer.abandon())
        waiters_.push_back(std::move(waiter));
}

void connection::flush_waiters() {
    std::vector<std::function<void()>> waiters;
    {
        const auto lock = this->lock();
        waiters.swap(waiters_);
    }
    for (const auto& waiter : waiters)
        waiter();
}

bool connection::read_requests(ACE_Message_Block& in) {
    for (;;) {
        if (reading_done_) {
            in.rd_ptr(in.length()); // nothing after the last request is read
            return false;
        }
        if (tunnel_)
            return pass_tunnel(in);
        if (parser_ == nullptr) {
            if (in.length() == 0)
                return true;
            if (intercepted_ && !std::exchange(sniffed_, true) && *in.rd_ptr() == tls_handshake) {
                intercept_tls();
                continue;
            }
            const auto lock = this->lock();
            if (closing_) {
                reading_done_ = true; // an answer closes the connection: no request after it is read
                continue;
            }
            if (answers_.size() >= answers_waiting) {
                paused_ = true;
                return false;
            }
            parser_ = std::make_unique<request_parser>(origin_site(), intercepted_);
            in_request_ = true;
            set_deadline(server_->settings().head_timeout);
        }
        {
            const auto lock = this->lock();
            if (body_held_ && transaction_ != nullptr) {
                paused_for_body_ = true;
                return false;
            }
        }
        const std::size_t used = parser_->feed(in.rd_ptr(), in.length());
        in.rd_ptr(used);
        if (parser_->failed() != 0) {
            refuse(parser_->failed());
            continue;
        }
        if (parser_->head_done() && current_ == nullptr) {
            route();
            continue;
        }
        if (current_ != nullptr && used > 0) {
            set_deadline(server_->settings().idle_timeout);
            pass_body(false);
        }
        if (parser_->done()) {
            if (transaction_ != nullptr && parser_->head()->method == "CONNECT")
                start_tunnel();
            else
                finish_request();
            continue;
        }
        if (used == 0)
            return true;
    }
}

const tav::uri& connection::origin_site() const {
    return intercepted_ ? destination_site_ : server_->settings().site;
}

void connection::intercept_tls() {
    boost::intrusive_ptr<request_head> head(new request_head);
    head->method = "CONNECT";
    head->target = destination_site_.host() + ":" + destination_site_.port();
    head->uri = destination_site_;
    head->uri.scheme("https");
    head->intercepted = destination_;
    current_ = new exchange(this, head, false);
    transaction_ = server_->create_transaction(head, local_, remote_, current_);
    {
        const auto lock = this->lock();
        answers_.push_back(current_);
        if (transaction_ == nullptr) {
            current_->answer(502, "Nothing carries intercepted connections.", true);
            reading_done_ = true;
            current_.reset();
            pump();
            return;
        }
        current_->set_transaction(transaction_);
        in_request_ = true;
    }
    start_tunnel();
}

void connection::route() {
    const auto& head = parser_->head();
    if (intercepted_)
        head->intercepted = destination_;
    current_ = new exchange(this, head, parser_->keep_alive());
    // Whether the client waits for "100 Continue" before it sends the body: it gets it unless the answer
    // has begun by the end of routing.
    const bool waits = parser_->expects_continue() && !parser_->done();
    {
        const auto lock = this->lock();
        answers_.push_back(current_);
        if (waits)
            current_->await_continue();
    }
    if (head->method == "TRACE") {
        // A trace echoes the request, cookies and credentials included, to the script of whatever page sent
        // it: neither the site nor the proxy answers one.
        const auto lock = this->lock();
        current_->answer(405, "Requests to trace are not answered.", false,
                         {{"Allow", http_server::allowed_methods(*head)}});
        pump();
    } else {
        transaction_ = server_->create_transaction(head, local_, remote_, current_);
        if (transaction_ == nullptr && !http_server::is_site_method(head->method)) {
            refuse(501);
            return;
        }
        const auto lock = this->lock();
        if (transaction_ != nullptr) {
            current_->set_transaction(transaction_);
        } else {
            // The body, if any, is read and dropped.
            current_->answer(404, "Nothing here answers " + head->target + ".", false);
            pump();
        }
    }
    // What goes on to another server streams through; the site's own extensions take bodies up to the limit.
    const bool forwarded = transaction_ != nullptr && transaction_->get_extension() == server_->forward();
    parser_->body_allowed(forwarded ? std::nullopt : server_->settings().body_limit);
    if (parser_->failed() != 0)
        return; // the read loop refuses it
    set_deadline(server_->settings().idle_timeout);
    if (!waits)
        return;
    // The transaction hears of the request before the client is told to go on: a refusal that it gives at
    // once (the proxy's policy) goes out instead.
    if (transaction_ != nullptr)
        transaction_->handle_request_body(make_msg(nullptr, 0), false);
    const auto lock = this->lock();
    if (!current_->started()) {
        current_->send_continue();
        pump();
    }
}

void connection::pass_body(bool last) {
    ACE_Message_Block* body = parser_->take_body();
    if (transaction_ == nullptr) {
        release_msg(body); // the server's own answers read no body
        return;
    }
    if (body == nullptr && !last)
        return;
    if (body == nullptr)
        body = make_msg(nullptr, 0);
    transaction_->handle_request_body(body, last);
}

void connection::finish_request() {
    // The request's time is over once it is whole, before its transaction may have answered it.
    clear_deadline();
    pass_body(true);
    bool last = !parser_->keep_alive();
    {
        const auto lock = this->lock();
        body_held_ = false; // the next request starts free
        last = last || current_->closes();
    }
    parser_.reset();
    current_.reset();
    transaction_.reset();
    const auto lock = this->lock();
    in_request_ = false;
    reading_done_ = reading_done_ || last;
    if (answers_.empty() && !reading_done_)
        set_deadline(server_->settings().idle_timeout);
    else
        clear_deadline();
}

void connection::start_tunnel() {
    tunnel_ = true;
    parser_.reset();
    clear_deadline();
    transaction_->handle_request_body(make_msg(nullptr, 0), false);
}

bool connection::pass_tunnel(ACE_Message_Block& in) {
    {
        const auto lock = this->lock();
        if (body_held_) {
            paused_for_body_ = true;
            return false;
        }
    }
    if (in.length() > 0) {
        ACE_Message_Block* bytes = make_msg(in.rd_ptr(), static_cast<unsigned>(in.length()));
        in.rd_ptr(in.length());
        transaction_->handle_request_body(bytes, false);
    }
    return true;
}

void connection::refuse(int status) {
    if (transaction_ != nullptr)
        transaction_->terminate_request();
    const auto lock = this->lock();
    reading_done_ = true;
    in_request_ = false;
    if (current_ == nullptr) {
        boost::intrusive_ptr<request_head> head = parser_->head();
        if (head == nullptr)
            head = new request_head;
        current_ = new exchange(this, head, false);
        answers_.push_back(current_);
    }
    current_->answer(status, "The request cannot be served.", true);
    parser_.reset();
    current_.reset();
    transaction_.reset();
    clear_deadline();
    pump();
}

void connection::peer_closed() {
    if (tunnel_) {
        transaction_->handle_request_body(make_msg(nullptr, 0), true);
        tunnel_ = false;
        transaction_.reset();
        current_.reset();
        const auto lock = this->lock();
        in_request_ = false;
    }
    if (parser_ != nullptr) {
        parser_->end_of_input();
        if (parser_->done()) {
            finish_request();
        } else {
            // The client left in the middle of a request: there is no one to answer.
            if (transaction_ != nullptr)
                transaction_->terminate_request();
            const auto lock = this->lock();
            if (current_ != nullptr) {
                abandon(*current_);
                answers_.pop_back();
            }
            parser_.reset();
            current_.reset();
            transaction_.reset();
            in_request_ = false;
        }
    }
    const auto lock = this->lock();
    reading_done_ = true;
    client_ended_ = true;
    pump();
}

void connection::pump() {
    while (!answers_.empty() && !closing_) {
        exchange& front = *answers_.front();
        if (ACE_Message_Block* out = front.take_output()) {
            auto* sent = new sent_chain{out, &front, out->total_length()};
            if (stream_->write(out, this, sent) != aio_error::ok) {
                release_msg(out);
                delete sent;
            }
        }
        if (!front.finished()) {
            // After the client's end, an answer whose every byte has gone leaves it nothing to wait for.
            if (!client_ended_ || !front.complete())
                return;
            abandon(front);
            answers_.pop_front();
            continue;
        }
        server_->log(front.record(), remote_);
        if (front.half_closes() && !reading_done_)
            stream_->shutdown_writing(); // a tunnel whose origin has ended: the client's bytes still go to it
        else if (front.closes())
            closing_ = true;
        answers_.pop_front();
    }
    if (closing_ || (reading_done_ && answers_.empty() && !in_request_)) {
        closing_ = true;
        for (const auto& waiting : answers_)
            abandon(*waiting);
        answers_.clear();
        clear_deadline();
        stream_->shutdown();
        return;
    }
    if (paused_ && answers_.size() < answers_waiting) {
        paused_ = false;
        stream_->start_reading();
    }
    if (answers_.empty() && !in_request_)
        set_deadline(server_->settings().idle_timeout);
}

void connection::handle_input_error(const stream_ptr& /*stream*/, const aio_error& /*error*/) {}

void connection::handle_close(const stream_ptr& /*stream*/) {
    if (transaction_ != nullptr)
        transaction_->terminate_request();
    {
        const auto lock = this->lock();
        closing_ = true;
        for (const auto& waiting : answers_)
            abandon(*waiting);
        answers_.clear();
        clear_deadline();
    }
    parser_.reset();
    current_.reset();
    transaction_.reset();
    flush_waiters();
    stream_->set_handler(nullptr);
    server_->forget(this);
}

void connection::handle_written(const stream_ptr& /*stream*/, const void* act) {
    std::unique_ptr<sent_chain> sent(static_cast<sent_chain*>(const_cast<void*>(act)));
    release_msg(sent->chain);
    std::function<void()> resume;
    {
        const auto lock = this->lock();
        resume = sent->from->written(sent->bytes);
    }
    if (resume)
        resume();
    flush_waiters();
}

void connection::handle_write_error(const stream_ptr& stream, const void* act, const aio_error& /*error*/) {
    handle_written(stream, act);
}

void connection::check_deadline(clock::time_point now) {
    const clock::rep deadline = deadline_;
    if (deadline != 0 && now.time_since_epoch().count() >= deadline)
        close_session();
}

void connection::set_deadline(clock::duration from_now) {
    deadline_ = (server_->settings().clock->now() + from_now).time_since_epoch().count();
}

void connection::clear_deadline() {
    deadline_ = 0;
}

} // namespace tav::http
