#pragma once

// tav::http::extension - a part of the site that the server hands requests to.
//
// For every request head the server asks its extensions, in turn, for a transaction; the first that
// returns one answers the request. The server then passes the request body to the transaction
// (ext_transaction_base::handle_request_body), which enters the extension's care through
// enqueue_transaction and queues each piece through enqueue_request; the queued calls reach the
// transaction one at a time, and it answers through its response handler. active_extension implements
// everything here except create_transaction.

#include <tav/aio_cmd.hpp>
#include <tav/http/export.hpp>
#include <tav/http/request_head.hpp>
#include <tav/http/response_handler.hpp>
#include <tav/ref_counted.hpp>

#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>

#include <boost/intrusive_ptr.hpp>

namespace tav::http {

class ext_transaction_base;

class TAV_HTTP_EXPORT extension : public virtual ref_counted {
public:
    ~extension() override;

    // Queues a piece of a transaction's request body (the transaction then owns the block) for delivery to
    // ext_transaction_base::OnRequestBody; false when the extension no longer takes requests, and the block
    // has then been released.
    virtual bool enqueue_request(const boost::intrusive_ptr<ext_transaction_base>& transaction,
                                 ACE_Message_Block* body, bool last) = 0;
    // The transaction has ended: answered, or given up because the client went away.
    virtual void on_transaction_close(ext_transaction_base* transaction) = 0;
    // The command target whose queue runs the extension's work.
    virtual aio_cmd_handler* get_aio_handler() = 0;
    // A transaction for the request, or empty to decline it. Called on a server thread for each request
    // head; must not block.
    virtual boost::intrusive_ptr<ext_transaction_base>
    create_transaction(const boost::intrusive_ptr<request_head>& head, const ACE_INET_Addr& local,
                       const ACE_INET_Addr& remote,
                       const boost::intrusive_ptr<response_handler>& response) = 0;
    // Takes the transaction into the extension's care until on_transaction_close, and queues the call of its
    // OnRequestHead; false when the extension no longer takes requests.
    virtual bool enqueue_transaction(const boost::intrusive_ptr<ext_transaction_base>& transaction) = 0;
};

} // namespace tav::http
