#include <tav/http/active_extension.hpp>
#include <tav/http/ext_transaction_base.hpp>
#include <tav/msg.hpp>

#include <ace/Proactor.h>

#include <exception>
#include <map>
#include <memory>
#include <utility>

namespace tav::http {

namespace {

// How many queued items one turn runs before it hands the thread back to the proactor's other work.
constexpr int items_per_turn = 16;

// A body piece owned by queued work: released with the work unless the work ran and handed it on.
class body_piece {
public:
    explicit body_piece(ACE_Message_Block* block) : block_(block) {}
    body_piece(const body_piece&) = delete;
    body_piece& operator=(const body_piece&) = delete;
    ~body_piece() { release_msg(block_); }
    ACE_Message_Block* take() { return std::exchange(block_, nullptr); }

private:
    ACE_Message_Block* block_;
};

} // namespace

active_extension::active_extension(const boost::intrusive_ptr<server>& owner) : server_(owner) {}

active_extension::~active_extension() = default;

bool active_extension::start() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (server_ == nullptr || server_->proactor() == nullptr)
        return false;
    proactor(server_->proactor());
    open_ = true;
    return true;
}

void active_extension::stop() {
    std::deque<std::function<void()>> dropped;
    std::map<ext_transaction_base*, boost::intrusive_ptr<ext_transaction_base>> live;
    boost::intrusive_ptr<server> owner;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
        dropped.swap(queue_);
        live.swap(transactions_);
        // The server holds its extensions: letting it go ends the cycle.
        owner.swap(server_);
    }
    // Dropping the work releases the body pieces it holds; the transactions are told outside the lock,
    // since terminating one calls back into on_transaction_close.
    dropped.clear();
    for (const auto& transaction : live)
        transaction.second->terminate_request();
}

bool active_extension::enqueue_transaction(const boost::intrusive_ptr<ext_transaction_base>& transaction) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!open_)
            return false;
        transactions_.emplace(transaction.get(), transaction);
    }
    return enqueue([transaction] { transaction->OnRequestHead(&transaction->get_request_head()); });
}

bool active_extension::enqueue_request(const boost::intrusive_ptr<ext_transaction_base>& transaction,
                                       ACE_Message_Block* body, bool last) {
    auto piece = std::make_shared<body_piece>(body);
    return enqueue([transaction, piece, last] { transaction->OnRequestBody(piece->take(), last); });
}

void active_extension::on_transaction_close(ext_transaction_base* transaction) {
    boost::intrusive_ptr<ext_transaction_base> closed; // let go after the lock is released
    const std::lock_guard<std::mutex> lock(mutex_);
    auto found = transactions_.find(transaction);
    if (found != transactions_.end()) {
        closed = std::move(found->second);
        transactions_.erase(found);
    }
}

bool active_extension::enqueue(std::function<void()> work) {
    bool post = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!open_)
            return false;
        queue_.push_back(std::move(work));
        post = !std::exchange(scheduled_, true);
    }
    return !post || schedule();
}

bool active_extension::schedule() {
    try {
        boost::intrusive_ptr<active_extension> self(this);
        post_call(self, [self] { self->run_queue(); });
        return true;
    } catch (const std::exception&) {
        // The work stays queued for the next turn that can be posted.
        const std::lock_guard<std::mutex> lock(mutex_);
        scheduled_ = false;
        return false;
    }
}

void active_extension::handle_cmd(aio_cmd* cmd) {
    cmd->execute(this);
}

void active_extension::run_queue() {
    for (int i = 0; i < items_per_turn; ++i) {
        std::function<void()> work;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) {
                scheduled_ = false;
                return;
            }
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            work();
        } catch (...) {
            // A transaction's exception must not end the proactor thread; the transaction answers for itself.
        }
    }
    // More is queued: give the thread back and take another turn.
    schedule();
}

} // namespace tav::http
