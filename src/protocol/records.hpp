#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace quern::protocol {

// What the backend's lines mean, the records the runtime makes itself, and the
// texts it writes for people on standard error.

// The longest backend stdout or stderr line, its line feed included.
inline constexpr std::size_t kBackendLineLimit = 1048576;

// A protocol record: a JSON object with a string "type". Only these reach the
// front end from the backend.
bool is_protocol_record(const json::Value& value);

// {"error":message,"id":id,"ok":false,"type":"response"}; the id is taken over
// as it is (null where a refusal carries no id).
json::Value error_response(json::Value id, std::string_view message);

// {"id":id,"ok":true,"result":{"shutdown":true},"type":"response"}
json::Value shutdown_response(json::Value id);

// {"error":message,"type":"fatal"}
json::Value fatal_record(std::string_view message);

// "Python backend exited", with " (exit code: N)" when the code is known (in
// 0x-hex when bit 31 is set).
std::string backend_exited_message(std::optional<std::uint32_t> exit_code);

// The notes on standard error.
inline constexpr std::string_view kNonProtocolNote = "[quern-runtime] Ignored non-protocol backend stdout";
inline constexpr std::string_view kInvalidRecordNote = "[quern-runtime] Ignored invalid backend stdout record";
inline constexpr std::string_view kOversizedStderrNote = "[quern-runtime] Oversized backend stderr line discarded";
inline constexpr std::string_view kInvalidUtf8StderrNote = "[quern-runtime] Invalid UTF-8 backend stderr line discarded";
inline constexpr std::string_view kStderrReadFailedNote = "[quern-runtime] Backend stderr read failed: ";
// Followed by the OS error text: the backend runs, but its processes are not
// ended by the system should the runtime end abruptly.
inline constexpr std::string_view kTreeNotBoundNote =
    "[quern-runtime] Backend processes are not bound to the runtime and may outlive it: ";

}  // namespace quern::protocol
