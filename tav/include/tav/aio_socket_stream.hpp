#pragma once

// A connected TCP socket on a proactor.
//
// The stream keeps at most one read and one write outstanding, reads into a 16 KiB block that its handler
// consumes in place (a block that one read fills is a bulk transfer's: the next empty one is 64 KiB), writes
// queued message chains strictly in order with gather writes, and closes in an orderly way: reading stops at
// once, queued writes drain, then the socket is closed. Either side may end its half alone: shutdown_writing
// sends the end of the stream after the queued writes and reads on, and a stream that allows a half-close
// goes on writing after the peer's end until it is shut down. The public operations write, shutdown,
// shutdown_writing and start_reading are posted as commands, so once the stream is open its state changes
// only on the proactor's threads; a lock keeps those changes one at a time when several threads run the event
// loop. Callbacks run under that lock and may call the stream's direct operations; the posting operations
// never take it. Operations posted from one thread run in the order they were posted, however many threads
// run the event loop.

#include <tav/aio_cmd.hpp>
#include <tav/export.hpp>
#include <tav/ref_counted.hpp>

#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>

#include <boost/intrusive_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace tav {

class TAV_EXPORT aio_socket_stream : public aio_cmd_handler {
public:
    // Status bits.
    enum : unsigned long {
        reading = 0x01,          // a read is outstanding
        shutdown_pending = 0x02, // shutdown or shutdown_writing requested while writes were queued
        peer_closed = 0x04,      // a read completed with 0 bytes (the peer's end)
        read_error = 0x08,       // a read failed
        write_error = 0x10,      // a write failed
        callback_error = 0x20,   // a callback threw, or the input buffer overflowed
        read_stopped = 0x40,
        write_stopped = 0x80,
        closed = read_stopped | write_stopped
    };

    static constexpr size_t input_size = 16384;
    static constexpr size_t bulk_input_size = 65536;

    // Input callbacks of one stream.
    class TAV_EXPORT handler : public virtual ref_counted {
    public:
        ~handler() override;
        // Unread input is available, or the peer has closed (peer_closed set). Consume it by advancing the
        // read pointer of the stream's input_buffer(); return false to pause until the next start_reading.
        virtual bool handle_input(const boost::intrusive_ptr<aio_socket_stream>& stream) = 0;
        // Reading ended with an error.
        virtual void handle_input_error(const boost::intrusive_ptr<aio_socket_stream>& stream,
                                        const aio_error& error) = 0;
        // The socket has been closed; the last call the handler receives.
        virtual void handle_close(const boost::intrusive_ptr<aio_socket_stream>& stream) = 0;
    };

    // Completion callbacks of write requests.
    class TAV_EXPORT writer : public virtual ref_counted {
    public:
        ~writer() override;
        // The whole chain of the request with token `act` has been sent.
        virtual void handle_written(const boost::intrusive_ptr<aio_socket_stream>& stream,
                                    const void* act) = 0;
        // The request with token `act` failed or was discarded.
        virtual void handle_write_error(const boost::intrusive_ptr<aio_socket_stream>& stream,
                                        const void* act, const aio_error& error) = 0;
    };

    // One queued write. The chain is not owned: its owner may free it once the writer has been told.
    struct TAV_EXPORT write_request : public virtual ref_counted {
        write_request(ACE_Message_Block* c, const boost::intrusive_ptr<writer>& w, const void* a)
            : chain(c), notify(w), act(a) {}
        ACE_Message_Block* chain;
        boost::intrusive_ptr<writer> notify;
        const void* act;
    };

    aio_socket_stream();

    // Attaches a connected socket; false when the stream is not closed, the operations cannot be opened or
    // the initial data does not fit the input buffer. Reading starts with start_reading.
    virtual bool open(ACE_HANDLE handle, ACE_Message_Block& initial_data, ACE_Proactor* proactor,
                      const ACE_INET_Addr& remote, const ACE_INET_Addr& local);

    void set_handler(const boost::intrusive_ptr<handler>& h);
    boost::intrusive_ptr<handler> get_handler() const;

    // Posting operations; they return aio_error codes and never throw.
    aio_error::code start_reading();
    // Sends the chain after the writes queued before it; `w` hears of the outcome with token `act`.
    aio_error::code write(ACE_Message_Block* chain, const boost::intrusive_ptr<writer>& w, const void* act);
    // Stops reading and closes the stream once the queued writes have been sent.
    aio_error::code shutdown();
    // Sends the queued writes, then the end of the stream (the socket's sending side shuts: a half-close);
    // later writes are refused. Reading goes on, and the stream closes once it has ended too.
    aio_error::code shutdown_writing();

    // Whether the peer's end only ends reading: the stream then goes on writing until shutdown() or
    // shutdown_writing(), and a handler that pauses at the end is offered it again at the next start_reading.
    // Off by default: the peer's end shuts the stream down once the queued writes have been sent. Set it
    // before reading starts; it stays for later openings.
    void allow_half_close(bool allow) { half_close_ = allow; }

    // Direct operations, for the stream's callbacks.
    ACE_Message_Block& input_buffer() { return input_; }
    const ACE_Message_Block& input_buffer() const { return input_; }
    // Hands the input block with its data to the caller and continues with a new empty one; null, with the
    // block left in place, when no new block can be made.
    ACE_Message_Block* give_up_input_buffer();
    void cancel_reader();
    void cancel_writer();

    unsigned long status() const { return status_; }
    const ACE_INET_Addr& local_addr() const { return local_; }
    const ACE_INET_Addr& remote_addr() const { return remote_; }

    void handle_read_stream(const ACE_Asynch_Read_Stream::Result& result) override;
    void handle_write_stream(const ACE_Asynch_Write_Stream::Result& result) override;
    void handle_cmd(aio_cmd* cmd) override;

protected:
    ~aio_socket_stream() override;

private:
    using request_ptr = boost::intrusive_ptr<write_request>;

    void do_start_reading();
    void do_write(ACE_Message_Block* chain, const boost::intrusive_ptr<writer>& w, const void* act);
    void do_shutdown();
    void do_shutdown_writing();
    template <class F> aio_error::code post(const F& f);
    // Runs the oldest posted operation; under the stream's lock.
    void run_posted();

    void read();
    void write();
    bool read_stream(size_t bytes);
    bool writev(ACE_Message_Block* chain);

    bool on_input();
    void on_input_error(const aio_error& error);
    void on_close();
    void on_write(const request_ptr& request);
    void on_write_error(const boost::intrusive_ptr<writer>& w, const void* act, const aio_error& error);
    // Runs a callback; an exception it throws sets callback_error and is swallowed. False after a throw.
    template <class F> bool guarded(const F& callback);
    boost::intrusive_ptr<aio_socket_stream> self() { return this; }

    void stop_reading();
    void stop_writing();
    void finish_close();
    void close_socket();
    // The completion token of the operations of this opening.
    const void* token() const;
    // True when a completion belongs to an earlier opening of the stream.
    bool stale(const ACE_Asynch_Result& result) const;

    ACE_INET_Addr remote_;
    ACE_INET_Addr local_;
    std::atomic<unsigned long> status_;
    ACE_Asynch_Read_Stream reader_;
    boost::intrusive_ptr<handler> handler_;
    // Whether handler_ is set, readable without the lock: posting operations never take it, so that the
    // callbacks of two streams may post to each other.
    std::atomic<bool> has_handler_;
    std::atomic<bool> half_close_{false};
    ACE_Message_Block input_;
    // The last read filled the input block: the next empty one is made larger.
    bool filled_ = false;
    ACE_Asynch_Write_Stream writer_;
    std::deque<request_ptr> queue_;
    // Counts the openings of the stream; each operation carries the count it was started under.
    std::uintptr_t generation_;
    mutable std::recursive_mutex mutex_;
    // The operations posted and not yet run, oldest first, each with its number; under posted_mutex_,
    // which the posting operations take instead of the stream's lock.
    std::mutex posted_mutex_;
    std::deque<std::pair<std::uint64_t, std::function<void()>>> posted_;
    std::uint64_t posted_count_ = 0;
};

} // namespace tav
