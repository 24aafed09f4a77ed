#pragma once

#include <string>

#include "setup.hpp"

namespace e2e {

struct RoundTrip {
    bool ok = false;
    std::string error;
    int count = 0;
    double median_us = 0;
    double p99_us = 0;
    double max_us = 0;
    long maxrss_kib = -1;  // wait4's ru_maxrss of the relay
};

// Sends {"id":N,"command":"status","payload":{}} and waits for its answer, one
// at a time, warmup + count times; only the last count are kept. The echo
// backend answers every request at once with one write. Through the runtime:
// client -> runtime -> echo -> runtime -> client. Through the pass-through:
// the same shape, with `passthrough --spawn` starting the echo backend as the
// runtime does and copying bytes both ways.
RoundTrip run_round_trip(const Setup& setup, bool through_runtime, int count, int warmup);

}  // namespace e2e
