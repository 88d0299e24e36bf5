#include <tav/http/ext_transaction_base.hpp>
#include <tav/msg.hpp>

namespace tav::http {

ext_transaction_base::ext_transaction_base(extension* owner,
                                           const boost::intrusive_ptr<response_handler>& response)
    : owner_(owner), response_(response) {}

ext_transaction_base::~ext_transaction_base() = default;

void ext_transaction_base::handle_request_body(ACE_Message_Block* body, bool last) {
    boost::intrusive_ptr<ext_transaction_base> self(this);
    if (!started_.exchange(true) && !owner_->enqueue_transaction(self)) {
        release_msg(body);
        respond_error(503, "The site is stopping.");
        return;
    }
    if (!owner_->enqueue_request(self, body, last))
        respond_error(503, "The site is stopping.");
}

void ext_transaction_base::terminate_request() {
    if (!end())
        return;
    OnTerminate();
    owner_->on_transaction_close(this);
}

void ext_transaction_base::OnRequestHead(const request_head* /*head*/) {}

void ext_transaction_base::OnTerminate() {}

void ext_transaction_base::send_response_head(const boost::intrusive_ptr<response_head>& head) {
    if (!ended_)
        response_->send_head(head);
}

void ext_transaction_base::send_response_body(const void* data, std::size_t size) {
    if (!ended_)
        response_->send_body(data, size);
}

void ext_transaction_base::send_response_end(const boost::intrusive_ptr<log_record>& record) {
    if (!end())
        return;
    response_->send_end(record);
    owner_->on_transaction_close(this);
}

void ext_transaction_base::respond_error(int status, const char* text) {
    if (!end())
        return;
    response_->respond_error(status, text);
    owner_->on_transaction_close(this);
}

bool ext_transaction_base::end() {
    return !ended_.exchange(true);
}

} // namespace tav::http
