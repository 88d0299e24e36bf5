#pragma once

#include <quorrel/Clock.hpp>

#include <ctime>

// A clock that stands still until a test moves it; its local time is UTC.
class FakeClock : public tav::Clock {
public:
    std::int64_t Now() const override { return m_now; }
    std::tm LocalTime(std::int64_t time) const override {
        const std::time_t moment = static_cast<std::time_t>(time);
        std::tm local{};
        gmtime_r(&moment, &local);
        return local;
    }

    // Tuesday 1 December 2026 at the given time of day.
    void SetTuesday(int hour, int minute, int second = 0) {
        m_now = TUESDAY + hour * 3600 + minute * 60 + second;
    }
    void Advance(std::int64_t seconds) { m_now += seconds; }

    static const std::int64_t TUESDAY = 1796083200; // 2026-12-01 00:00:00 UTC

private:
    std::int64_t m_now = TUESDAY;
};
