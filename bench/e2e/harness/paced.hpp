#pragma once

#include <cstddef>
#include <string>

#include "requests.hpp"
#include "setup.hpp"

namespace e2e {

inline constexpr std::size_t kPacedWindow = 32;

struct PacedRun {
    bool ok = false;
    std::string error;
    double requests_per_second = 0;
    long maxrss_kib = -1;  // wait4's ru_maxrss of the relay
    long hwm_kib = -1;     // its own VmHWM after the last answer
};

// A front end that keeps at most kPacedWindow requests unanswered, as the
// Node client does, to the echo backend through the runtime or
// `passthrough --spawn`: `warmup` requests, then the shape's count timed, from
// the last warm-up answer to the last answer. Each request is one write; every
// answer must be {"id":N,"ok":true,"result":{},"type":"response"} for the
// oldest unanswered request (the runtime never refuses such a front end).
PacedRun run_paced(const Setup& setup, bool through_runtime, const RequestShape& shape, std::size_t warmup,
                   int run_index);

}  // namespace e2e
