#pragma once

// tav::logger - one activity log: records queued from any thread, written by a thread of its own.
//
// start() opens log/<name>/log.txt below the working directory and starts the writer. Each record
// becomes one line of tab-separated values, one column per field name, under a header in the
// style of the W3C Extended Log File Format: "#Version: 1.0" and "#Fields:" when the file is new,
// and an empty line and a "#Date:" line (UTC or local time) each time the file is opened. When the
// file grows past 2 MiB it becomes log.txt.old, replacing any older one, and a new log.txt starts.
//
// log() may be called from any thread at any time. It only appends to a queue under a short lock
// and never waits for the disk; records logged while the logger is not started are dropped. The
// writer drains the whole queue at each wake-up and writes without the lock. Errors while running
// reach no caller: after a write error the next record rotates the file, and while a rotation
// fails records are lost until a later one succeeds. start() and stop() belong to one
// controlling thread. stop() returns once every record queued before it is written; the
// destructor stops a logger that is still running.

#include <tav/export.hpp>
#include <tav/log_record.hpp>
#include <tav/stream_logger.hpp>

#include <boost/intrusive_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace tav {

class TAV_EXPORT logger {
public:
    logger();
    ~logger();
    logger(const logger&) = delete;
    logger& operator=(const logger&) = delete;

    // Starts writing log/<name>/log.txt with the given columns; name may contain letters, digits and
    // "._-/", where "/" separates sub-directories. Throws std::runtime_error with the text
    // "Can't start <name> logger: <reason>", and then nothing stays open and no thread runs.
    void start(const std::string& name, const std::vector<std::string>& fields, bool utc);
    // Writes everything queued so far, ends the writer and closes the file.
    void stop();
    // Queues record for writing; drops a null record or one logged while not started.
    void log(boost::intrusive_ptr<log_record> record);

private:
    using queue_type = std::deque<boost::intrusive_ptr<log_record>>;

    void thread_func();
    void write_record(const log_record& record);
    void open_log_file();
    void rotate_log_file();

    std::vector<std::string> field_names_;
    std::unique_ptr<boost::thread> thread_;
    queue_type queue_; // a null entry ends the writer
    boost::mutex lock_;
    boost::condition_variable wake_up_;
    std::ofstream output_;
    std::string file_name_;
    // The file's size, counted as records are written rather than asked of the file each time.
    std::streamoff size_ = 0;
    bool utc_ = false;
};

} // namespace tav
