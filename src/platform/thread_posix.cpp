#include <pthread.h>

#include <memory>

#include "platform/this_process.hpp"
#include "platform/os_error.hpp"
#include "platform/thread.hpp"

namespace quern::platform {

namespace {

void* run_body(void* raw) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(raw));
    (*body)();
    return nullptr;
}

}  // namespace

void spawn_detached_thread(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, run_body, owned.get());
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        exit_internal_fault("failed to spawn thread: " + os_error_text(static_cast<OsErrorCode>(error)));
    }
    owned.release();  // the thread owns the body now
}

}  // namespace quern::platform
