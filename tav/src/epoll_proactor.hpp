#pragma once

#include <ace/POSIX_Proactor.h>

#include <cstddef>
#include <deque>
#include <mutex>

#include <pthread.h>
#include <unordered_map>

class ACE_Message_Block;

namespace tav {

// A proactor emulated on an epoll reactor. Operations are tried at once; those that would block wait in
// per-descriptor queues until epoll reports the descriptor ready. A descriptor stays registered,
// edge-triggered, from its first wait on, and the proactor remembers whether each direction was last seen
// ready, so a steady connection costs no epoll_ctl and no failed try. Finished operations and posted results
// share one completion queue, which every thread running the event loop drains.
// A mutex that spins briefly before it sleeps: the proactor's lock is held for a few instructions at a
// time, so a waiting thread usually gets it without a system call.
class adaptive_mutex {
public:
    adaptive_mutex() {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
        pthread_mutex_init(&mutex_, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    ~adaptive_mutex() { pthread_mutex_destroy(&mutex_); }
    adaptive_mutex(const adaptive_mutex&) = delete;
    adaptive_mutex& operator=(const adaptive_mutex&) = delete;
    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }

private:
    pthread_mutex_t mutex_;
};

class epoll_proactor : public ACE_POSIX_Proactor {
public:
    enum class op_kind { read, write, accept, connect };

    epoll_proactor();
    ~epoll_proactor() override;

    // True when the epoll and wake-up descriptors were created.
    bool is_open() const { return epoll_fd_ >= 0 && wake_fd_ >= 0; }

    // Starts an operation on descriptor `fd`. A read fills aio_buf with up to aio_nbytes bytes; a write sends
    // `want` bytes from the chain of blocks linked by cont() starting at `chain`, moving their read pointers
    // as bytes leave, or from aio_buf when `chain` is null; an accept stores the new descriptor in
    // aio_fildes. Returns 0, or -1 with errno set when the operation could not be started; the caller then
    // still owns the result.
    int start(int fd, ACE_POSIX_Asynch_Result* result, op_kind kind, ACE_Message_Block* chain = nullptr,
              std::size_t want = 0);

    // Completes the waiting reads and accepts (`reads`) and writes and connects (`writes`) of `handle` with
    // ECANCELED. Returns 0 when something was cancelled, 1 when nothing waited.
    int cancel(ACE_HANDLE handle, bool reads, bool writes);

    // Queues a result that is already finished.
    void finish(ACE_POSIX_Asynch_Result* result, std::size_t bytes, int error);

    // Forgets what is known of descriptor `fd` when no operation waits on it. Operations call it when they
    // are opened on a descriptor or create one, which may be a new socket under a reused number, and
    // streams when they close theirs, so that closed descriptors leave nothing behind.
    void forget(int fd);

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
        bool registered = false;
        // False once an operation found the direction not ready, until epoll reports it ready again.
        bool readable = true;
        bool writable = true;
        // Whether the peer may have closed since a read last found the socket empty. A short read proves
        // the data drained, but not the peer's close: its edge may have been reported before the read, and
        // no other edge follows. Unknown sockets may have.
        bool may_be_closed = true;
    };

    // Tries the operation once; false while it would block.
    static bool perform(op& o);
    // The members below named _locked run with mutex_ held.
    void run_queue_locked(descriptor& d, bool input);
    void on_ready_locked(int fd, unsigned events);
    // Registers `fd` with epoll if it is not yet. Returns an errno.
    int watch_locked(int fd, descriptor& d);
    void push_ready_locked(ACE_POSIX_Asynch_Result* result);

    // Delivered results are destroyed at once, but their memory is freed by the next thread that starts an
    // operation or posts a result: that is the thread that allocates results, and malloc's per-thread cache
    // then serves it again without a lock, where a free on the delivering thread would contend for the
    // allocating thread's arena.
    static constexpr std::size_t spent_capacity = 256;
    struct spent_memory {
        void* blocks[spent_capacity];
        std::size_t count = 0;
        spent_memory() = default;
        spent_memory(const spent_memory&) = delete;
        spent_memory& operator=(const spent_memory&) = delete;
        ~spent_memory();
    };
    // Moves the parked memory into `out`, to be freed once the lock is released.
    void collect_spent_locked(spent_memory& out);
    // Parks the memory of destroyed results; frees it when no room is left.
    void park(void* const* memory, std::size_t count);
    // Delivers up to a batch of results, waiting for I/O up to timeout_ms (-1: without limit) when none is
    // ready. Returns the number delivered, 0 on timeout or -1.
    int wait(int timeout_ms);

    int epoll_fd_;
    int wake_fd_;
    adaptive_mutex mutex_;
    std::unordered_map<int, descriptor> descriptors_;
    std::deque<ACE_POSIX_Asynch_Result*> ready_;
    spent_memory spent_;
    // Threads blocked in epoll_wait, whether the wake-up descriptor has been written since they last looked,
    // and how many results were delivered since epoll was last asked.
    int waiting_ = 0;
    bool woken_ = false;
    unsigned since_poll_ = 0;
};

} // namespace tav
