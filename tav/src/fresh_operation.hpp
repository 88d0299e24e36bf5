#pragma once

#include <new>

namespace tav {

// ACE's open of an asynchronous operation does not free the implementation that an earlier open made, so an
// operation is made anew before it is opened again.
template <class Operation> void make_fresh(Operation& operation) {
    operation.~Operation();
    new (&operation) Operation;
}

} // namespace tav
