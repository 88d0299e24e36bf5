#pragma once

// tav::log_record - the fields of one logged event, by name, written as one line of a log.
//
// A record is made on the heap, held by boost::intrusive_ptr and destroyed by the last release.
// Values stored by set_field never contain white space, so a formatted line always has exactly
// one tab-separated column per name. A record is not synchronised: one thread fills it and hands
// it to a logger, after which nobody changes it.

#include <tav/export.hpp>
#include <tav/ref_counted.hpp>

#include <boost/intrusive_ptr.hpp>

#include <map>
#include <string>
#include <vector>

namespace tav {

class TAV_EXPORT log_record : public ref_counted {
public:
    log_record() = default;

    // Stores value under name if the name is absent, or replaces the existing value when replace is
    // true; then every white-space byte of the stored value becomes '_'.
    void set_field(const std::string& name, const std::string& value, bool replace);
    // The value of name, or an empty string when it is absent.
    std::string get_field(const std::string& name) const;
    // Copies every field of other, unchanged, over this record's; a null other does nothing.
    void merge(const boost::intrusive_ptr<log_record>& other);
    // Sets "date" (YYYY-MM-DD) and "time" (HH:MM:SS) to the present moment in UTC.
    void stamp();
    // The values for names, in order, separated by single tabs; "-" for a missing or empty value.
    std::string format(const std::vector<std::string>& names) const;

private:
    ~log_record() override;

    std::map<std::string, std::string> fields_;
};

} // namespace tav
