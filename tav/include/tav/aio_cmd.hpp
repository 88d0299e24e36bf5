#pragma once

// Commands posted into a proactor's completion queue.
//
// Besides socket completions, any object can hand a piece of work to the threads that run a proactor's
// event loop: the work is wrapped in an aio_cmd, posted like a finished I/O operation and delivered to its
// target, an aio_cmd_handler, on whichever of those threads dequeues it. aio_error is the error value of
// every asynchronous operation of the library.

#include <tav/export.hpp>
#include <tav/ref_counted.hpp>

#include <ace/Asynch_IO.h>
#include <ace/POSIX_Asynch_IO.h>

#include <boost/intrusive_ptr.hpp>

#include <stdexcept>

class ACE_Proactor;

namespace tav {

// What went wrong in an asynchronous operation. Tests true exactly when there is an error.
struct TAV_EXPORT aio_error {
    enum code {
        ok = 0,
        no_memory = 1,       // allocation failed while creating or posting a command
        read_failed = 2,     // a read failed to start or completed without success
        write_failed = 3,    // a write failed to start, completed without success, or was refused
        bad_argument = 4,    // a required argument was null
        write_cancelled = 5, // a queued write was discarded because writing stopped
        input_overflow = 6,  // the input buffer is full and its reader consumed nothing
        failed = 7           // no handler set, or posting a command failed
    };

    aio_error(code c, const ACE_Asynch_Result* r) : what(c), result(r) {}
    ~aio_error() {}

    explicit operator bool() const { return what != ok; }

    code what;
    // The completion that failed, or null when nothing had started; valid only during the callback.
    const ACE_Asynch_Result* result;
};

class aio_cmd;

// The target of posted commands. It lives at least until every command posted for it has been delivered.
class TAV_EXPORT aio_cmd_handler : public ACE_Handler, public virtual ref_counted {
public:
    // Receives a dequeued command on a proactor thread.
    virtual void handle_cmd(aio_cmd* cmd) = 0;
    // The signal number given to every command created for this handler.
    virtual int get_signal_number() const;
};

// A command: a result that no I/O produced. It is allocated on the heap and destroyed by the proactor after
// delivery, or by enqueue when it cannot be posted; its creator never deletes it after calling enqueue.
// It refers to its handler only weakly, through the handler's ACE proxy.
class TAV_EXPORT aio_cmd : public ACE_POSIX_Asynch_Result {
public:
    aio_cmd(const boost::intrusive_ptr<aio_cmd_handler>& handler, const void* act);

    // Posts the command to its handler's proactor. False when the handler is gone, has no proactor or the
    // post failed; the command has then been destroyed.
    bool enqueue();

    // Called by the proactor when the command is dequeued: records the values and delivers the command.
    void complete(size_t bytes_transferred, int success, const void* completion_key, u_long error) override;

    // Carries out the command's work.
    virtual void execute(aio_cmd_handler* target) = 0;
};

// A command that calls a stored function object. When the function holds an intrusive_ptr to the target,
// the target stays alive until the command is destroyed.
template <class F> class call_cmd : public aio_cmd {
public:
    call_cmd(const boost::intrusive_ptr<aio_cmd_handler>& handler, const F& f, const void* act = nullptr)
        : ACE_Asynch_Result_Impl(), aio_cmd(handler, act), f_(f) {}

    void execute(aio_cmd_handler* /*target*/) override { f_(); }

private:
    F f_;
};

// Posts a call of f to the threads of the handler's proactor. Throws std::runtime_error when the command
// cannot be posted and std::bad_alloc when memory runs out.
template <class F> void post_call(const boost::intrusive_ptr<aio_cmd_handler>& handler, const F& f) {
    if (!(new call_cmd<F>(handler, f))->enqueue())
        throw std::runtime_error("call_cmd::enqueue() failed");
}

// A new proactor for asynchronous socket I/O and posted commands, owned by the caller, or null when it
// cannot be created. `threads` is the number of threads the caller means to run its event loop on
// (0: unspecified). It starts no threads of its own.
TAV_EXPORT ACE_Proactor* make_proactor(unsigned threads);

} // namespace tav
