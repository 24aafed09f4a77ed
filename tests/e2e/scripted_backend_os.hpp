#pragma once

#include <string>

#include "platform/process.hpp"

// The few OS calls the scripted test backend needs beyond the runtime's own.
namespace quern::test_backend {

std::string own_path(const char* argv0);
unsigned long own_process_id();
void close_stdin();
// This process's stdout and stderr for a child to share; no stdin.
platform::ChildStdio own_stdio();

}  // namespace quern::test_backend
