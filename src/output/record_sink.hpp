#pragma once

#include <functional>

#include "json/value.hpp"

namespace quern::output {

// Where the loop sends its records: emit_record in the runtime, a recorder in
// tests. Returns false when the record could not be written.
using RecordSink = std::function<bool(const json::Value&)>;

}  // namespace quern::output
