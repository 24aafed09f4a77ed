#include "support/test_process.hpp"

namespace quern::testing {

platform::OsString runtime_binary() { return QUERN_RUNTIME_BINARY; }

}  // namespace quern::testing
