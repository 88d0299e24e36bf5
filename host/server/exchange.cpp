#include "exchange.hpp"

#include "connection.hpp"

#include <tav/http/html.hpp>
#include <tav/msg.hpp>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace tav::http {

namespace {

// An answer whose body grows past this is sent as it comes rather than held for a Content-Length.
constexpr std::size_t held_limit = std::size_t{64} * 1024;

std::string http_date() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

// A field value as it may go on the wire: line breaks would start a field of their own.
std::string field_value(const std::string& value) {
    std::string safe;
    for (char c : value)
        if (c != '\r' && c != '\n')
            safe += c;
    return safe;
}

} // namespace

exchange::exchange(const boost::intrusive_ptr<connection>& owner,
                   const boost::intrusive_ptr<request_head>& head, bool keep_alive)
    : owner_(owner), head_(head), keep_alive_(keep_alive), head_request_(head->method == "HEAD"),
      connect_request_(head->method == "CONNECT"), silent_(connect_request_ && head->intercepted) {}

exchange::~exchange() {
    release_msg(output_);
}

template <class F> void exchange::from_extension(const F& operation) {
    const auto lock = owner_->lock();
    if (gone_ || finished_)
        return;
    operation();
    if (!std::exchange(head_waits_, false))
        owner_->pump();
}

void exchange::send_head(const boost::intrusive_ptr<response_head>& head) {
    from_extension([&] {
        if (response_ != nullptr || head == nullptr)
            return;
        response_ = head;
        status_ = head->status();
        if (connect_request_ && status_ >= 200 && status_ < 300) {
            tunnel_ = true;
            emit_head(nullptr);
            return;
        }
        const std::string* length = head->headers.find(atom::content_length_header);
        if (length == nullptr || length->empty() || length->size() > 19 ||
            length->find_first_not_of("0123456789") != std::string::npos)
            return;
        declared_ = std::stoull(*length);
        const std::string text = *length;
        emit_head(&text);
        // The head waits for the first piece of its body, so that both leave in one write.
        head_waits_ = *declared_ > 0 && !head_request_;
    });
}

void exchange::send_body(const void* data, std::size_t size) {
    from_extension([&] {
        if (response_ == nullptr || size == 0)
            return;
        body_bytes_ += size;
        if (head_emitted_) {
            emit_body(static_cast<const char*>(data), size);
            return;
        }
        held_.append(static_cast<const char*>(data), size);
        if (held_.size() > held_limit) {
            emit_head(nullptr);
            emit_body(held_.data(), held_.size());
            held_.clear();
        }
    });
}

void exchange::send_end(const boost::intrusive_ptr<log_record>& record) {
    from_extension([&] {
        if (response_ == nullptr)
            return;
        add_fields(record);
        if (!head_emitted_) {
            const std::string length = std::to_string(held_.size());
            emit_head(&length);
            emit_body(held_.data(), held_.size());
            held_.clear();
        } else if (chunked_) {
            emit("0\r\n\r\n");
        } else if (declared_ && *declared_ != body_bytes_ && !head_request_) {
            closes_ = true; // the body fell short of its length: only closing tells the client
        }
        half_closes_ = tunnel_;
        finish();
    });
}

void exchange::respond_error(int status, const char* text) {
    {
        const auto lock = owner_->lock();
        if (half_closes_ && !gone_) {
            // A tunnel that fails after its origin's end: the client's side goes too.
            owner_->close_session();
            return;
        }
    }
    from_extension([&] {
        if (head_emitted_) {
            // Part of the answer is out: the client can only learn of the failure by the connection closing.
            closes_ = true;
            finish();
            return;
        }
        answer(status, text != nullptr ? text : "", false);
    });
}

void exchange::note(const boost::intrusive_ptr<log_record>& record) {
    const auto lock = owner_->lock();
    if (!gone_ && !finished_)
        add_fields(record);
}

void exchange::add_fields(const boost::intrusive_ptr<log_record>& record) {
    if (extra_ == nullptr)
        extra_ = new log_record;
    extra_->merge(record);
}

void exchange::send_continue() {
    awaits_continue_ = false;
    emit("HTTP/1.1 100 Continue\r\n\r\n");
}

void exchange::answer(int status, const std::string& text, bool close,
                      const std::vector<std::pair<std::string, std::string>>& fields) {
    if (head_emitted_ || finished_)
        return;
    closes_ = closes_ || close;
    response_ = response_head::create(status, nullptr, version::one_one_);
    if (response_ == nullptr)
        response_ = response_head::create(500, nullptr, version::one_one_);
    status_ = response_->status();
    response_->headers.set(atom::content_type_header, "text/html; charset=utf-8");
    response_->headers.set(atom::cache_control_header, "no-store");
    for (const auto& field : fields)
        response_->headers.set(atom::intern(field.first), field.second);
    if (silent_) {
        head_emitted_ = true;
        closes_ = true;
        finish();
        return;
    }
    const std::string title = std::to_string(status_) + " " + response_->reason();
    const std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
                             "</title></head>\n<body><h1>" + title + "</h1>\n<p>" + escape_html(text) +
                             "</p></body></html>\n";
    const std::string length = std::to_string(page.size());
    held_.clear();
    body_bytes_ = page.size();
    emit_head(&length);
    emit_body(page.data(), page.size());
    finish();
}

void exchange::hold_request_body(bool hold) {
    owner_->hold_input(hold);
}

std::size_t exchange::unsent() const {
    const auto lock = owner_->lock();
    return unsent_;
}

void exchange::on_drained(std::size_t low, std::function<void()> resume) {
    {
        const auto lock = owner_->lock();
        if (!gone_ && unsent_ > low) {
            drained_low_ = low;
            drained_ = std::move(resume);
            return;
        }
    }
    resume();
}

std::function<void()> exchange::written(std::size_t bytes) {
    unsent_ -= std::min(bytes, unsent_);
    if (drained_ && (gone_ || unsent_ <= drained_low_))
        return std::exchange(drained_, nullptr);
    return nullptr;
}

bool exchange::complete() const {
    return head_emitted_ && !tunnel_ && !chunked_ && output_ == nullptr &&
           (head_request_ || (declared_ && body_bytes_ >= *declared_));
}

ACE_Message_Block* exchange::take_output() {
    begun_ = begun_ || (output_ != nullptr && head_emitted_);
    return std::exchange(output_, nullptr);
}

boost::intrusive_ptr<log_record> exchange::record() const {
    boost::intrusive_ptr<log_record> record(new log_record);
    record->merge(extra_);
    record->set_field("cs-method", head_->method, true);
    std::string url;
    head_->uri.flatten(url, tav::uri::all_bits);
    // A transaction may name the address that was asked for more exactly (a redirected TLS connection's
    // server name).
    record->set_field("cs-uri", url.empty() ? head_->target : url, false);
    record->set_field("sc-status", std::to_string(status_), true);
    record->set_field("sc-bytes", std::to_string(head_request_ ? 0 : body_bytes_), true);
    if (const std::string* agent = head_->headers.find(atom::user_agent_header))
        record->set_field("cs(User-Agent)", *agent, true);
    return record;
}

void exchange::set_transaction(const boost::intrusive_ptr<ext_transaction_base>& transaction) {
    if (!finished_ && !gone_)
        transaction_ = transaction;
}

std::function<void()> exchange::abandon() {
    gone_ = true;
    release_msg(output_);
    std::function<void()> waiter = std::exchange(drained_, nullptr);
    boost::intrusive_ptr<ext_transaction_base> transaction = std::move(transaction_);
    if (transaction == nullptr)
        return waiter;
    return [waiter, transaction] {
        if (waiter)
            waiter();
        transaction->terminate_request();
    };
}

void exchange::emit_head(const std::string* length) {
    head_emitted_ = true;
    if (silent_) {
        closes_ = true;
        return;
    }
    chunked_ = length == nullptr && head_->version == version::one_one_ && !head_request_;
    if ((length == nullptr && !chunked_) || !keep_alive_ || connect_request_ || awaits_continue_)
        closes_ = true;
    std::string text =
        "HTTP/1.1 " + std::to_string(status_) + " " + field_value(response_->reason()) + "\r\n";
    for (const auto& field : response_->headers) {
        if (field.first == atom::content_length_header || field.first == atom::transfer_encoding_header ||
            field.first == atom::connection_header || field.first == atom::date_header)
            continue;
        text += field_value(field.first.c_str()) + ": " + field_value(field.second) + "\r\n";
    }
    text += "Date: " + http_date() + "\r\n";
    if (status_ < 200 || status_ == 204 || status_ == 304 || tunnel_)
        chunked_ = false; // an answer that never has a body, or a tunnel's
    else if (length != nullptr)
        text += "Content-Length: " + *length + "\r\n";
    else if (chunked_)
        text += "Transfer-Encoding: chunked\r\n";
    if (closes_ && !tunnel_)
        text += "Connection: close\r\n";
    else if (head_->version == version::one_zero_)
        text += "Connection: keep-alive\r\n";
    text += "\r\n";
    emit(text);
}

void exchange::emit_body(const char* data, std::size_t size) {
    if (head_request_ || size == 0)
        return;
    if (chunked_) {
        char line[32];
        std::snprintf(line, sizeof line, "%zx\r\n", size);
        emit(line, std::strlen(line));
        emit(data, size);
        emit("\r\n");
        return;
    }
    emit(data, size);
}

void exchange::emit(const std::string& bytes) {
    emit(bytes.data(), bytes.size());
}

void exchange::emit(const char* data, std::size_t size) {
    append_msg(output_, make_msg(data, static_cast<unsigned>(size)));
    unsent_ += size;
}

void exchange::finish() {
    finished_ = true;
    transaction_.reset();
}

} // namespace tav::http
