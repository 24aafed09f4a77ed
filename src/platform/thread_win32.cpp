#include <windows.h>

#include "platform/os_error.hpp"
#include "platform/this_process.hpp"
#include "platform/thread.hpp"

namespace quern::platform {

namespace {

struct Start {
    void (*run)(void*);
    void* body;
};

DWORD WINAPI run_start(LPVOID raw) {
    const Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    start.run(start.body);
    return 0;
}

}  // namespace

void start_detached_thread(void (*run)(void* body), void* body) {
    auto* start = new Start{run, body};
    HANDLE thread = CreateThread(nullptr, kWorkerStackBytes, run_start, start, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                 nullptr);
    if (thread == nullptr) {
        exit_internal_fault("failed to spawn thread: " + os_error_text(GetLastError()));
    }
    CloseHandle(thread);
}

}  // namespace quern::platform
