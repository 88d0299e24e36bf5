#pragma once

#include <quorrel/Client.hpp>

#include <cstdint>
#include <mutex>

namespace tav {

// A client's counts of today, under a lock of their own.
class Client::Usage {
public:
    struct Counts {
        std::int32_t time = 0;
        std::int64_t timeUpdated = 0;
        std::int32_t traffic = 0;
        std::int64_t trafficUpdated = 0;
    };

    Counts Get() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_counts;
    }
    // Changes the counts with `change(Counts&)`, under the lock.
    template <class Change> void Update(Change change) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        change(m_counts);
    }

    // Usage today as the clock tells it: 0 before the first tick of the local day.
    std::int32_t TimeToday(const Clock& clock) const;
    std::int32_t TrafficToday(const Clock& clock) const;
    void TickTime(const Clock& clock);
    void TickTraffic(const Clock& clock, std::int32_t bytes);

private:
    mutable std::mutex m_mutex;
    Counts m_counts;
};

} // namespace tav
