#pragma once

#include <ace/POSIX_Proactor.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <unordered_map>

class ACE_Message_Block;

namespace tav {

// A proactor emulated on an epoll reactor. Operations are tried at once; those that would block wait in
// per-descriptor queues until epoll reports the descriptor ready. Finished operations and posted results
// share one completion queue, which every thread running the event loop drains.
class epoll_proactor : public ACE_POSIX_Proactor {
public:
    enum class op_kind { read, write, accept, connect };

    epoll_proactor();
    ~epoll_proactor() override;

    // True when the epoll and wake-up descriptors were created.
    bool is_open() const { return epoll_fd_ >= 0 && wake_fd_ >= 0; }

    // Starts an operation on descriptor `fd`. A read fills aio_buf with up to aio_nbytes bytes; a write sends
    // `want` bytes from the chain of blocks linked by cont() starting at `chain`, moving their read pointers
    // as bytes leave, or from aio_buf when `chain` is null; an accept stores the new descriptor in aio_fildes. Returns 0, or -1 with errno set
    // when the operation could not be started; the caller then still owns the result.
    int start(int fd, ACE_POSIX_Asynch_Result* result, op_kind kind, ACE_Message_Block* chain = nullptr,
              std::size_t want = 0);

    // Completes the waiting reads and accepts (`reads`) and writes and connects (`writes`) of `handle` with
    // ECANCELED. Returns 0 when something was cancelled, 1 when nothing waited.
    int cancel(ACE_HANDLE handle, bool reads, bool writes);

    // Queues a result that is already finished.
    void finish(ACE_POSIX_Asynch_Result* result, std::size_t bytes, int error);

    int close() override;
    int handle_events(ACE_Time_Value& wait_time) override;
    int handle_events() override;
    int post_completion(ACE_POSIX_Asynch_Result* result) override;
    int start_aio(ACE_POSIX_Asynch_Result* result, Opcode op) override;
    int cancel_aio(ACE_HANDLE handle) override;
    ACE_HANDLE get_handle() const override { return epoll_fd_; }

    ACE_Asynch_Read_Stream_Impl* create_asynch_read_stream() override;
    ACE_Asynch_Write_Stream_Impl* create_asynch_write_stream() override;
    ACE_Asynch_Accept_Impl* create_asynch_accept() override;
    ACE_Asynch_Connect_Impl* create_asynch_connect() override;

private:
    struct op {
        int fd;
        ACE_POSIX_Asynch_Result* result;
        op_kind kind;
        ACE_Message_Block* chain;
        std::size_t want;
        std::size_t done;
    };
    struct descriptor {
        std::deque<op> in;  // reads and accepts
        std::deque<op> out; // writes and connects
        unsigned events = 0;
    };

    // Tries the operation once; false while it would block.
    static bool perform(op& o);
    // run_queue, update_interest and push_ready run with mutex_ held; the others take it themselves.
    void run_queue(std::deque<op>& queue);
    // Makes epoll watch what the queues of `fd` wait for; forgets `fd` when nothing waits. Returns an errno.
    int update_interest(int fd, descriptor& d);
    void on_ready(int fd, unsigned events);
    void push_ready(ACE_POSIX_Asynch_Result* result);
    ACE_POSIX_Asynch_Result* pop_ready();
    // Delivers one result, waiting for I/O up to timeout_ms (-1: without limit). Returns 1, 0 or -1.
    int wait(int timeout_ms);

    int epoll_fd_;
    int wake_fd_;
    std::mutex mutex_;
    std::unordered_map<int, descriptor> descriptors_;
    std::deque<ACE_POSIX_Asynch_Result*> ready_;
};

} // namespace tav
