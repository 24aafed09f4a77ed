#pragma once

#include <cerrno>

namespace quern::platform::posix {

// Calls a system call until it is not interrupted by a signal, and answers
// what it answered last: the one place the runtime retries on EINTR. For
// calls that answer a negative value and set errno on failure (read, write,
// waitid, waitpid, poll). Async-signal-safe as long as the call is, so a
// forked child may use it.
template <typename Call>
auto retry_on_eintr(Call&& call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

}  // namespace quern::platform::posix
