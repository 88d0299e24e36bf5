#pragma once

// tav::http::active_extension - an extension with a command queue of its own on the server's proactor.
//
// Everything the extension's transactions are told (OnRequestHead, OnRequestBody) runs as commands of this
// queue, strictly one after another and in the order queued, on whichever proactor thread takes the
// queue's turn; so the transactions of one extension never run at the same time. start() opens the queue;
// stop() closes it, drops the commands not yet run (releasing their body pieces), terminates the
// transactions still in its care and lets the server go. A subclass supplies create_transaction.

#include <tav/aio_cmd.hpp>
#include <tav/http/export.hpp>
#include <tav/http/extension.hpp>
#include <tav/http/server.hpp>

#include <boost/intrusive_ptr.hpp>

#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace tav::http {

class TAV_HTTP_EXPORT active_extension : public extension, public aio_cmd_handler {
public:
    explicit active_extension(const boost::intrusive_ptr<server>& owner);

    bool enqueue_request(const boost::intrusive_ptr<ext_transaction_base>& transaction,
                         ACE_Message_Block* body, bool last) override;
    void on_transaction_close(ext_transaction_base* transaction) override;
    aio_cmd_handler* get_aio_handler() override { return this; }
    bool enqueue_transaction(const boost::intrusive_ptr<ext_transaction_base>& transaction) override;
    void handle_cmd(aio_cmd* cmd) override;

    // Stops the queue; see above. Safe to call more than once and from any thread.
    void stop();

protected:
    ~active_extension() override;

    // Opens the queue on the server's proactor; false when the server has none.
    bool start();

private:
    // Queues work; false when the queue is closed or its turn cannot be posted.
    bool enqueue(std::function<void()> work);
    // Posts the queue's next turn.
    bool schedule();
    // Runs queued work on a proactor thread, a bounded number of items per turn.
    void run_queue();

    boost::intrusive_ptr<server> server_;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    std::map<ext_transaction_base*, boost::intrusive_ptr<ext_transaction_base>> transactions_;
    bool open_ = false;
    bool scheduled_ = false;
};

} // namespace tav::http
