#include <tav/ref_counted.hpp>

namespace tav {

ref_counted::~ref_counted() = default;

void intrusive_ptr_add_ref(ref_counted* object) {
    object->count_.fetch_add(1, std::memory_order_relaxed);
}

// The release ordering publishes every thread's last use of the object, and the acquire side makes
// those uses visible to the thread that deletes it.
void intrusive_ptr_release(ref_counted* object) {
    if (object->count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete object;
    }
}

} // namespace tav
