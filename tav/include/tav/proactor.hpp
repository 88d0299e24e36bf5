#pragma once

#include <tav/export.hpp>

class ACE_Proactor;

namespace tav {

// A new proactor for asynchronous socket I/O and posted results, owned by the caller, or null when it cannot
// be created. `threads` is the number of threads the caller means to run its event loop on (0: unspecified).
// It starts no threads of its own besides ACE's timer thread.
TAV_EXPORT ACE_Proactor* make_proactor(unsigned threads);

} // namespace tav
