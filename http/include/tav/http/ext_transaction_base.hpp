#pragma once

// tav::http::ext_transaction_base - one request handed to an extension, and its answer.
//
// The server calls handle_request_body with each piece of the request body (the last one flagged, an empty
// body as one empty last piece) and terminate_request when the client goes away first. The pieces reach
// OnRequestBody through the extension's queue, one call at a time and in order; OnRequestHead comes before
// them. The subclass answers with send_response_head, send_response_body and send_response_end, or with
// respond_error; once the answer has ended, or the request was terminated, the extension lets the
// transaction go and further sends are ignored. The send operations may be called from any thread.

#include <tav/http/export.hpp>
#include <tav/http/extension.hpp>
#include <tav/http/request_head.hpp>
#include <tav/http/response_handler.hpp>
#include <tav/http/response_head.hpp>
#include <tav/log_record.hpp>
#include <tav/ref_counted.hpp>

#include <ace/Message_Block.h>

#include <boost/intrusive_ptr.hpp>

#include <atomic>
#include <cstddef>

namespace tav::http {

class TAV_HTTP_EXPORT ext_transaction_base : public virtual ref_counted {
public:
    ext_transaction_base(extension* owner, const boost::intrusive_ptr<response_handler>& response);

    // Takes a piece of the request body (owning the block; null for none). When the extension no longer
    // takes requests the piece is released and the request answered with 503.
    virtual void handle_request_body(ACE_Message_Block* body, bool last);
    // The client has gone: no answer is sent any more.
    virtual void terminate_request();

    // Called on the extension's queue before the body; ignored by default.
    virtual void OnRequestHead(const request_head* head);
    // Called on the extension's queue for each piece of the body; the callee releases the block with
    // release_msg.
    virtual void OnRequestBody(ACE_Message_Block* body, bool last) = 0;
    // Called when the request is terminated, on the thread that terminated it; does nothing by default.
    virtual void OnTerminate();

    boost::intrusive_ptr<extension> get_extension() const { return owner_; }
    const request_head& get_request_head() const { return response_->request(); }

    void send_response_head(const boost::intrusive_ptr<response_head>& head);
    void send_response_body(const void* data, std::size_t size);
    void send_response_end(const boost::intrusive_ptr<log_record>& record);
    void respond_error(int status, const char* text);

protected:
    ~ext_transaction_base() override;
    // Where the answer goes, for a subclass that needs its flow control.
    response_handler& get_response_handler() const { return *response_; }

private:
    // Marks the transaction ended; true for the first caller only.
    bool end();

    boost::intrusive_ptr<extension> owner_;
    boost::intrusive_ptr<response_handler> response_;
    std::atomic<bool> started_{false};
    std::atomic<bool> ended_{false};
};

} // namespace tav::http
