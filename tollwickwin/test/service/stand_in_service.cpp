// Stands in for the filtering service host in the Wine suite, so that Brindle's restart can be watched:
// installed as an own-process service, it appends "start <pid>" and "stop <pid>" to the file named by its
// first argument and runs until it is asked to stop.
#include <windows.h>

#include <cstdio>

namespace {

const char* journal = nullptr;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopRequested = nullptr;

void Note(const char* event) {
    if (FILE* file = std::fopen(journal, "a")) {
        std::fprintf(file, "%s %lu\n", event, GetCurrentProcessId());
        std::fclose(file);
    }
}

void Report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(stopRequested);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    statusHandle = RegisterServiceCtrlHandlerExA("", Control, nullptr);
    if (statusHandle == nullptr)
        return;
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Noted before it is reported, so that a service seen running has always noted its start.
    Note("start");
    Report(SERVICE_RUNNING);
    WaitForSingleObject(stopRequested, INFINITE);
    Note("stop");
    Report(SERVICE_STOPPED);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    journal = argv[1];
    char name[] = "";
    const SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
