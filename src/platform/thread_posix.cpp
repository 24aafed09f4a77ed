#include <pthread.h>

#include "platform/os_error.hpp"
#include "platform/this_process.hpp"
#include "platform/thread.hpp"

namespace quern::platform {

namespace {

struct Start {
    void (*run)(void*);
    void* body;
};

void* run_start(void* raw) {
    const Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    start.run(start.body);
    return nullptr;
}

}  // namespace

void start_detached_thread(void (*run)(void* body), void* body) {
    auto* start = new Start{run, body};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, run_start, start);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        exit_internal_fault("failed to spawn thread: " + os_error_text(static_cast<OsErrorCode>(error)));
    }
}

}  // namespace quern::platform
