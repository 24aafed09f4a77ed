#pragma once

#include "json/value.hpp"
#include "request/request_envelope.hpp"

namespace quern::request {

// The id of the runtime's own shutdown request to the backend.
inline constexpr std::string_view kRuntimeShutdownId = "__runtime_shutdown__";

// What the backend receives for an accepted request: command, id, payload
// ({} when none was given) and, only when the request had one, session.
// The envelope is used up: its payload moves into the request.
json::Value forwarded_request(RequestEnvelope envelope);

// {"command":"shutdown","id":"__runtime_shutdown__","payload":{}}
json::Value runtime_shutdown_record();

}  // namespace quern::request
