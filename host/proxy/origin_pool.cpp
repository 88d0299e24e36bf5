#include "origin_pool.hpp"

#include <utility>
#include <vector>

namespace tav::http {

struct origin_pool::state {
    struct entry {
        stream_ptr stream;
        clock::time_point since;
    };
    std::size_t per_origin;
    std::size_t total;
    clock::duration idle;
    mutable std::mutex mutex;
    std::map<std::string, std::deque<entry>> waiting;
    std::size_t count = 0;

    // Takes the stream out of the origin's entries; false when it was not there (taken or dropped already).
    bool remove(const std::string& origin, aio_socket_stream* stream) {
        const auto found = waiting.find(origin);
        if (found == waiting.end())
            return false;
        auto& entries = found->second;
        for (auto e = entries.begin(); e != entries.end(); ++e) {
            if (e->stream.get() != stream)
                continue;
            entries.erase(e);
            --count;
            if (entries.empty())
                waiting.erase(found);
            return true;
        }
        return false;
    }
};

// Reads from an idle connection: whatever comes ends it, unless it has been taken meanwhile, in which case
// the input stays for its new owner.
class origin_pool::idle_reader : public aio_socket_stream::handler {
public:
    idle_reader(std::weak_ptr<state> pool, std::string origin)
        : pool_(std::move(pool)), origin_(std::move(origin)) {}

    bool handle_input(const stream_ptr& stream) override {
        if (drop(stream))
            stream->shutdown();
        return false;
    }
    void handle_input_error(const stream_ptr& /*stream*/, const aio_error& /*error*/) override {}
    void handle_close(const stream_ptr& stream) override { drop(stream); }

private:
    bool drop(const stream_ptr& stream) {
        const std::shared_ptr<state> pool = pool_.lock();
        if (pool == nullptr)
            return true;
        const std::lock_guard<std::mutex> lock(pool->mutex);
        return pool->remove(origin_, stream.get());
    }

    std::weak_ptr<state> pool_;
    std::string origin_;
};

origin_pool::origin_pool(std::size_t per_origin, std::size_t total, clock::duration idle,
                         std::shared_ptr<const steady_source> time)
    : time_(std::move(time)), state_(std::make_shared<state>()) {
    state_->per_origin = per_origin;
    state_->total = total;
    state_->idle = idle;
}

origin_pool::~origin_pool() {
    expire(time_->now(), true);
}

std::string origin_pool::key(const std::string& host, unsigned short port) {
    return host + ":" + std::to_string(port);
}

origin_pool::stream_ptr origin_pool::take(const std::string& host, unsigned short port) {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    const std::string origin = key(host, port);
    auto found = state_->waiting.find(origin);
    if (found == state_->waiting.end())
        return nullptr;
    stream_ptr stream = std::move(found->second.back().stream);
    found->second.pop_back();
    --state_->count;
    if (found->second.empty())
        state_->waiting.erase(found);
    return stream;
}

void origin_pool::give(const std::string& host, unsigned short port, const stream_ptr& stream) {
    if (state_->per_origin == 0 || state_->total == 0) {
        stream->shutdown();
        return;
    }
    // The stream's lock, which its callback holds, keeps the reader from running before the entry is in.
    const std::string origin = key(host, port);
    stream->set_handler(new idle_reader(state_, origin));
    stream->start_reading();
    stream_ptr oldest;
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        auto& entries = state_->waiting[origin];
        entries.push_back({stream, time_->now()});
        ++state_->count;
        if (entries.size() > state_->per_origin || state_->count > state_->total) {
            oldest = std::move(entries.front().stream);
            entries.pop_front();
            --state_->count;
        }
    }
    if (oldest != nullptr)
        oldest->shutdown();
}

void origin_pool::expire(clock::time_point now, bool all) {
    std::vector<stream_ptr> closing;
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        for (auto it = state_->waiting.begin(); it != state_->waiting.end();) {
            auto& entries = it->second;
            while (!entries.empty() && (all || now - entries.front().since >= state_->idle)) {
                closing.push_back(std::move(entries.front().stream));
                entries.pop_front();
                --state_->count;
            }
            it = entries.empty() ? state_->waiting.erase(it) : std::next(it);
        }
    }
    for (const stream_ptr& stream : closing)
        stream->shutdown();
}

std::size_t origin_pool::idle() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->count;
}

} // namespace tav::http
