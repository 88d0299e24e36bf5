#include <tav/log_record.hpp>

#include <algorithm>
#include <ctime>

namespace tav {
namespace {

// The white space of the classic locale; other control bytes and bytes 0x80-0xFF stay.
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

log_record::~log_record() = default;

void log_record::set_field(const std::string& name, const std::string& value, bool replace) {
    const auto [at, inserted] = fields_.emplace(name, value);
    if (!inserted && replace) {
        at->second = value;
    }
    std::replace_if(at->second.begin(), at->second.end(), is_space, '_');
}

std::string log_record::get_field(const std::string& name) const {
    const auto at = fields_.find(name);
    return at == fields_.end() ? std::string() : at->second;
}

void log_record::stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char date[16];
    char time[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &utc);
    std::strftime(time, sizeof time, "%H:%M:%S", &utc);
    set_field("date", date, true);
    set_field("time", time, true);
}

void log_record::merge(const boost::intrusive_ptr<log_record>& other) {
    if (!other) {
        return;
    }
    for (const auto& [name, value] : other->fields_) {
        fields_[name] = value;
    }
}

std::string log_record::format(const std::vector<std::string>& names) const {
    std::string line;
    for (const std::string& name : names) {
        if (!line.empty()) {
            line += '\t';
        }
        const auto at = fields_.find(name);
        line += at == fields_.end() || at->second.empty() ? "-" : at->second;
    }
    return line;
}

} // namespace tav
