// Brindle restarts the filtering service: it stops the service when it runs, waits until it has stopped, and
// starts it again. The tray control panel starts it without arguments and does not wait for it.
//
// Exit codes:
//   0  the service was started
//   1  the service control manager cannot be opened
//   2  the service is not installed or cannot be opened for stopping and starting
//   3  the service did not stop: the stop request failed or it was still running after 30 seconds
//   4  the service could not be started
#include "ServiceHandle.hpp"
#include "ServiceName.hpp"

#include <windows.h>

namespace {

using tollwick::ServiceHandle;

enum ExitCode { kStarted = 0, kNoManager = 1, kNoService = 2, kNotStopped = 3, kNotStarted = 4 };

constexpr DWORD kTimeoutMilliseconds = 30000;
constexpr DWORD kPollMilliseconds = 250;

// Polls the service until done accepts its state; false when the state cannot be read or done waits too long.
bool WaitFor(SC_HANDLE service, bool (*done)(DWORD state), SERVICE_STATUS& status) {
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMilliseconds;
    for (;;) {
        if (!QueryServiceStatus(service, &status))
            return false;
        if (done(status.dwCurrentState))
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(kPollMilliseconds);
    }
}

bool NotStarting(DWORD state) {
    return state != SERVICE_START_PENDING;
}

bool Stopped(DWORD state) {
    return state == SERVICE_STOPPED;
}

// Brings the service to the stopped state, whatever state it is in now.
bool Stop(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    // A service on its way up cannot take the stop request yet.
    if (!WaitFor(service, NotStarting, status))
        return false;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    if (status.dwCurrentState != SERVICE_STOP_PENDING &&
        !ControlService(service, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return false;
    return WaitFor(service, Stopped, status);
}

int Restart() {
    const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return kNoManager;
    const ServiceHandle service(OpenServiceA(manager.Get(), tollwick::kServiceName,
                                             SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS));
    if (!service)
        return kNoService;
    if (!Stop(service.Get()))
        return kNotStopped;
    if (!StartServiceA(service.Get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return kNotStarted;
    return kStarted;
}

} // namespace

int main() {
    return Restart();
}
