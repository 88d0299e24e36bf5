#include "steady_source.hpp"

namespace tav::http {

steady_source::~steady_source() = default;

steady_source::clock::time_point steady_source::now() const {
    return clock::now();
}

} // namespace tav::http
