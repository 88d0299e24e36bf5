// Owns a handle of the service control manager or of one service and closes it when it goes.
#pragma once

#include <windows.h>

namespace tollwick {

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    ~ServiceHandle() {
        if (handle_ != nullptr)
            CloseServiceHandle(handle_);
    }

    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

} // namespace tollwick
