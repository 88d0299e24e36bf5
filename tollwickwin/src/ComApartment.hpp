// COM for the calling thread (apartment model) for as long as the object lives.
#pragma once

#include <objbase.h>

namespace tollwick {

class ComApartment {
public:
    ComApartment() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (initialised_)
            CoUninitialize();
    }

private:
    bool initialised_;
};

} // namespace tollwick
