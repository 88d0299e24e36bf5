#pragma once

#include <quorrel/export.hpp>

#include <cstdint>
#include <ctime>

namespace tav {

// Where the policy model reads the time: the time table, the daily quotas and the usage ticks.
// Tests give the model a clock of their own to set any moment exactly.
class QUORREL_EXPORT Clock {
public:
    virtual ~Clock();
    // Seconds since 1970.
    virtual std::int64_t Now() const;
    // The local broken-down time of a moment.
    virtual std::tm LocalTime(std::int64_t time) const;
};

} // namespace tav
