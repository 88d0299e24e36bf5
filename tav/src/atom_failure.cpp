#include <tav/atom_failure.hpp>

namespace tav {

atom_failure::atom_failure(const char* message) : std::runtime_error(message) {}

atom_failure::~atom_failure() = default;

} // namespace tav
