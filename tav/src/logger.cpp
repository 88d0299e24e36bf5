#include <tav/logger.hpp>

#include <boost/filesystem.hpp>

#include <ctime>
#include <new>
#include <stdexcept>
#include <utility>

namespace tav {
namespace {

namespace fs = boost::filesystem;

// A log file that grows past this many bytes is rotated.
constexpr std::streamoff rotate_size = 0x200000;

std::runtime_error start_error(const std::string& name, const std::string& reason) {
    return std::runtime_error("Can't start " + name + " logger: " + reason);
}

// Letters, digits and "._-/", with "/" between sub-directories. A ".." segment is refused so that
// no name leads out of "log".
bool valid_name(const std::string& name) {
    if (name.empty() || name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                               "0123456789._-/") != std::string::npos) {
        return false;
    }
    return ("/" + name + "/").find("/../") == std::string::npos;
}

std::string date_line_time(bool utc) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (utc) {
        gmtime_r(&now, &parts);
    } else {
        localtime_r(&now, &parts);
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

} // namespace

logger::logger() = default;

logger::~logger() {
    stop();
}

void logger::start(const std::string& name, const std::vector<std::string>& fields, bool utc) {
    if (thread_) {
        throw start_error(name, "already started");
    }
    const auto failure = [this, &name](const std::string& reason) {
        output_.close();
        output_.clear();
        return start_error(name, reason);
    };
    try {
        field_names_ = fields;
        utc_ = utc;
        if (!valid_name(name)) {
            throw std::runtime_error("bad logger name");
        }
        const fs::path root("log");
        fs::create_directories(root);
        const fs::path folder = root / name;
        if (fs::equivalent(root, folder)) {
            throw std::runtime_error("bad logger name");
        }
        fs::create_directories(folder);
        file_name_ = (folder / "log.txt").string();
        open_log_file();
        const boost::lock_guard<boost::mutex> guard(lock_);
        thread_ = std::make_unique<boost::thread>([this] { thread_func(); });
    } catch (const std::exception& e) {
        throw failure(e.what());
    } catch (...) {
        throw failure("unknown error");
    }
}

void logger::stop() {
    if (thread_) {
        {
            const boost::lock_guard<boost::mutex> guard(lock_);
            queue_.emplace_back();
        }
        wake_up_.notify_one();
        thread_->join();
        // Records logged while the writer was ending are dropped, not kept for a later start.
        const boost::lock_guard<boost::mutex> guard(lock_);
        thread_.reset();
        queue_.clear();
    }
    if (output_.is_open()) {
        output_.close();
    }
}

void logger::log(boost::intrusive_ptr<log_record> record) {
    if (!record) {
        return;
    }
    {
        const boost::lock_guard<boost::mutex> guard(lock_);
        if (!thread_) {
            return;
        }
        queue_.push_back(std::move(record));
    }
    wake_up_.notify_one();
}

void logger::thread_func() {
    for (;;) {
        queue_type batch;
        {
            boost::unique_lock<boost::mutex> guard(lock_);
            wake_up_.wait(guard, [this] { return !queue_.empty(); });
            batch.swap(queue_);
        }
        for (; !batch.empty(); batch.pop_front()) {
            if (!batch.front()) {
                return;
            }
            try {
                write_record(*batch.front());
            } catch (const std::bad_alloc&) {
                // A record that cannot be formatted is lost; the writer goes on with the next.
            }
        }
        // One write for the whole batch: a busy proxy logs a record per request.
        output_.flush();
    }
}

void logger::write_record(const log_record& record) {
    if (output_.fail()) {
        rotate_log_file();
    }
    if (output_.good()) {
        const std::string line = record.format(field_names_);
        output_ << line << '\n';
        size_ += static_cast<std::streamoff>(line.size() + 1);
        if (size_ > rotate_size) {
            rotate_log_file();
        }
    }
}

void logger::open_log_file() {
    output_.open(file_name_, std::ios::out | std::ios::app | std::ios::ate);
    if (!output_.is_open()) {
        throw std::runtime_error("fail to open \"" + file_name_ + "\"");
    }
    if (output_.tellp() == 0) {
        output_ << "#Version: 1.0\n#Fields:";
        for (const std::string& name : field_names_) {
            output_ << '\t' << name;
        }
        output_ << '\n';
    }
    output_ << "\n#Date: " << date_line_time(utc_) << std::endl;
    size_ = output_.tellp();
}

// Shifts log.txt to log.txt.old and starts a new log.txt. When it fails the stream stays closed and
// failed, so that the next record tries again instead of being written into a closed file. A log
// file that is gone (removed from outside, or moved by a rotation whose reopening failed) is not
// shifted, so a retry never throws away the last good generation. The file is shifted while it is
// still open (what is buffered goes with it), so once it is closed the attempt is over.
void logger::rotate_log_file() {
    try {
        if (fs::exists(file_name_)) {
            const std::string old_name = file_name_ + ".old";
            if (fs::exists(old_name)) {
                fs::remove(old_name);
            }
            fs::rename(file_name_, old_name);
        }
        output_.close();
        output_.clear();
        open_log_file();
    } catch (...) {
        output_.close();
        output_.setstate(std::ios::failbit);
    }
}

} // namespace tav
