#pragma once

// tav::atom_failure - thrown by users of atoms when an atom table cannot be maintained.

#include <tav/export.hpp>

#include <stdexcept>

namespace tav {

class TAV_EXPORT atom_failure : public std::runtime_error {
public:
    explicit atom_failure(const char* message);
    atom_failure(const atom_failure& other) = default;
    atom_failure& operator=(const atom_failure& other) = default;
    ~atom_failure() override;
};

} // namespace tav
