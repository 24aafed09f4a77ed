#include <windows.h>

#include <memory>

#include "platform/this_process.hpp"
#include "platform/os_error.hpp"
#include "platform/thread.hpp"

namespace quern::platform {

namespace {

DWORD WINAPI run_body(LPVOID raw) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(raw));
    (*body)();
    return 0;
}

}  // namespace

void spawn_detached_thread(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    HANDLE thread = CreateThread(nullptr, kWorkerStackBytes, run_body, owned.get(),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        exit_internal_fault("failed to spawn thread: " + os_error_text(GetLastError()));
    }
    owned.release();  // the thread owns the body now
    CloseHandle(thread);
}

}  // namespace quern::platform
