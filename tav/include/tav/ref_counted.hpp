#pragma once

// tav::ref_counted - base class of the library's reference-counted objects.
//
// An object starts with a count of 0 and is held through boost::intrusive_ptr; the first pointer
// raises the count to 1 and the release that brings it back to 0 deletes the object through its
// virtual destructor. A raw pointer never owns. Copying an object gives the copy its own count of 0.
//
// The count changes only by atomic read-modify-write operations, so pointers to one object may be
// copied and dropped on any threads at once; whichever thread drops the last one destroys it.
// Classes that inherit it along several paths derive from it virtually to share one count.

#include <tav/export.hpp>

#include <atomic>
#include <cstdint>

namespace tav {

class TAV_EXPORT ref_counted {
public:
    virtual ~ref_counted();

protected:
    ref_counted() = default;
    ref_counted(const ref_counted& /*other*/) {}
    ref_counted& operator=(const ref_counted& /*other*/) { return *this; }

private:
    friend void intrusive_ptr_add_ref(ref_counted* object);
    friend void intrusive_ptr_release(ref_counted* object);

    std::atomic<std::int32_t> count_{0};
};

// The hooks of boost::intrusive_ptr. They live here so that argument-dependent lookup finds them
// whatever the order of includes, and are also named in namespace boost, where intrusive_ptr looks.
TAV_EXPORT void intrusive_ptr_add_ref(ref_counted* object);
TAV_EXPORT void intrusive_ptr_release(ref_counted* object);

} // namespace tav

namespace boost {
using tav::intrusive_ptr_add_ref;
using tav::intrusive_ptr_release;
} // namespace boost
