#pragma once

// An echo service on the library's acceptor and socket stream, for the asynchronous tests.

#include <tav/acceptor.hpp>
#include <tav/aio_socket_stream.hpp>

#include <ace/Message_Block.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace echo {

using stream_ptr = boost::intrusive_ptr<tav::aio_socket_stream>;

// Writes back every byte it reads. Each write sends a copy that is released when the write is done.
class echo_handler : public tav::aio_socket_stream::handler, public tav::aio_socket_stream::writer {
public:
    explicit echo_handler(std::atomic<int>& closed) : closed_(closed) {}

    bool handle_input(const stream_ptr& stream) override {
        ACE_Message_Block& in = stream->input_buffer();
        if (in.length() == 0)
            return true;
        auto* copy = new ACE_Message_Block(in.length());
        copy->copy(in.rd_ptr(), in.length());
        in.rd_ptr(in.length());
        if (stream->write(copy, this, copy) != tav::aio_error::ok)
            copy->release();
        return true;
    }
    void handle_input_error(const stream_ptr& /*stream*/, const tav::aio_error& /*error*/) override {}
    void handle_close(const stream_ptr& /*stream*/) override { ++closed_; }
    void handle_written(const stream_ptr& /*stream*/, const void* act) override { release(act); }
    void handle_write_error(const stream_ptr& /*stream*/, const void* act,
                            const tav::aio_error& /*e*/) override {
        release(act);
    }

private:
    static void release(const void* act) {
        static_cast<ACE_Message_Block*>(const_cast<void*>(act))->release();
    }
    std::atomic<int>& closed_;
};

// A session that echoes on its socket.
class echo_session : public tav::session {
public:
    explicit echo_session(std::atomic<int>& closed) : closed_(closed) {}

    bool open_session(ACE_HANDLE handle, ACE_Message_Block& initial_data, ACE_Proactor* proactor,
                      const ACE_INET_Addr& remote, const ACE_INET_Addr& local) override {
        if (!stream_->open(handle, initial_data, proactor, remote, local))
            return false;
        stream_->set_handler(new echo_handler(closed_));
        stream_->start_reading();
        return true;
    }
    void close_session() override { stream_->shutdown(); }

private:
    std::atomic<int>& closed_;
    stream_ptr stream_{new tav::aio_socket_stream};
};

// Makes echo sessions, or refuses connections, or makes sessions that fail to open.
class manager : public tav::session_manager {
public:
    enum class mode { echo, refuse, fail };

    boost::intrusive_ptr<tav::session> create_session() override;
    void session_failed(const boost::intrusive_ptr<tav::session>& s) override {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_.push_back(s.get());
    }

    std::vector<tav::session*> failed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return failed_;
    }
    std::vector<tav::session*> created() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<tav::session*> raw;
        for (const boost::intrusive_ptr<tav::session>& s : created_)
            raw.push_back(s.get());
        return raw;
    }

    void accept_paused(int /*error*/) override { ++paused; }

    std::atomic<mode> behaviour{mode::echo};
    std::atomic<int> closed{0};
    std::atomic<int> paused{0};

private:
    // A session whose socket cannot be used.
    class failing_session : public tav::session {
    public:
        bool open_session(ACE_HANDLE, ACE_Message_Block&, ACE_Proactor*, const ACE_INET_Addr&,
                          const ACE_INET_Addr&) override {
            return false;
        }
        void close_session() override {}
    };

    mutable std::mutex mutex_;
    // Kept alive, so that a recycled address cannot be mistaken for another session.
    std::vector<boost::intrusive_ptr<tav::session>> created_;
    std::vector<tav::session*> failed_;
};

inline boost::intrusive_ptr<tav::session> manager::create_session() {
    boost::intrusive_ptr<tav::session> s;
    switch (behaviour.load()) {
    case mode::refuse:
        return nullptr;
    case mode::fail:
        s = new failing_session;
        break;
    case mode::echo:
        s = new echo_session(closed);
        break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    created_.push_back(s);
    return s;
}

} // namespace echo
