#pragma once

// tav::atom - a cheap handle to a shared, immutable, NUL-terminated text.
//
// An atom's identity is the address of its text: two atoms are equal exactly when they share one
// array, and they are ordered by that address, so a comparison is one pointer comparison. Equal
// texts in different arrays are different atoms; whoever wants text equality to mean atom
// equality hands out one array per text. The atom never makes texts itself: its maker supplies
// the array with its deleter (a deleter that does nothing for static text). The default atom is
// the null atom, which is false and whose c_str() is null.
//
// An atom object is used by one thread at a time; the text it shares may be read anywhere.

#include <tav/atom_failure.hpp>

#include <boost/shared_array.hpp>

#include <functional>
#include <utility>

namespace tav {

class atom {
public:
    using array_type = boost::shared_array<const char>;

    atom() = default;
    explicit atom(array_type text) : text_(std::move(text)) {}

    const char* c_str() const { return text_.get(); }
    array_type get_ptr() const { return text_; }
    void swap(atom& other) noexcept { text_.swap(other.text_); }

    bool operator==(const atom& other) const { return c_str() == other.c_str(); }
    bool operator!=(const atom& other) const { return c_str() != other.c_str(); }
    // std::less gives a total order even on addresses of unrelated arrays.
    bool operator<(const atom& other) const { return std::less<const char*>()(c_str(), other.c_str()); }
    explicit operator bool() const { return c_str() != nullptr; }

private:
    array_type text_;
};

} // namespace tav
