#include "app/startup.hpp"
#include "platform/this_process.hpp"

int main(int argc, char** argv) {
    quern::platform::prepare_process();
    const int status = quern::app::run_runtime(quern::platform::program_arguments(argc, argv));
    // Worker threads are never joined; the process ends here with its status.
    quern::platform::exit_process(status);
}
