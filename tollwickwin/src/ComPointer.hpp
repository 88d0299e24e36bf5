// Owns one reference to a COM interface and releases it when it goes.
#pragma once

#include <unknwn.h>

namespace tollwick {

template <typename Interface> class ComPointer {
public:
    ComPointer() = default;
    ComPointer(const ComPointer&) = delete;
    ComPointer& operator=(const ComPointer&) = delete;
    ~ComPointer() { Reset(); }

    Interface* Get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // Releases the current reference and offers the slot to a function that hands out a new one.
    Interface** Put() {
        Reset();
        return &pointer_;
    }

    // Same slot for functions that return the new reference as void**.
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    void Reset() {
        if (pointer_ != nullptr) {
            Interface* old = pointer_;
            pointer_ = nullptr;
            old->Release();
        }
    }

private:
    Interface* pointer_ = nullptr;
};

} // namespace tollwick
