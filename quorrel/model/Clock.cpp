#include <quorrel/Clock.hpp>

namespace tav {

Clock::~Clock() = default;

std::int64_t Clock::Now() const {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::tm Clock::LocalTime(std::int64_t time) const {
    const std::time_t moment = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}

} // namespace tav
