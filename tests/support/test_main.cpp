#include <gtest/gtest.h>

#include "platform/this_process.hpp"

// Tests run with the process set up as the runtime's is: on POSIX, writing to
// a pipe whose reader is gone must fail with EPIPE rather than kill the test.
int main(int argc, char** argv) {
    quern::platform::prepare_process();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
