#pragma once

// A monotonic time that stands still until a test moves it; safe to read from the loop threads while the
// test moves it.

#include "steady_source.hpp"

#include <atomic>

class fake_steady_source : public tav::http::steady_source {
public:
    clock::time_point now() const override { return clock::time_point(clock::duration(now_.load())); }
    void advance(clock::duration by) { now_ += by.count(); }

private:
    // Far from the epoch, as the steady clock is, so that an hour back is still a time.
    std::atomic<clock::rep> now_{std::chrono::duration_cast<clock::duration>(std::chrono::hours(24)).count()};
};
