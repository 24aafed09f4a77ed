#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json/value.hpp"
#include "output/record_sink.hpp"

namespace quern::request {

// A request that passed every envelope check.
struct RequestEnvelope {
    json::Value id;                      // a string or a number, as received
    std::string command;                 // one of the command table
    json::Object payload;                // {} when the request had none
    std::optional<json::Value> session;  // absent, null, or a string of 16-256 bytes
};

// Why a request line was refused: the error response's message and id.
struct Refusal {
    json::Value id;  // null until the line's id is known to be usable
    std::string message;
};

// Runs the envelope checks on one request line, in order; the first that fails
// decides the refusal. Pure: writes nothing.
std::variant<RequestEnvelope, Refusal> validate_request_line(std::string_view line);

// The loop's handling of a request line: a refused line is answered with one
// error response through emit, whose success is folded into output_healthy;
// an accepted one is returned for queueing.
std::optional<RequestEnvelope> handle_request_line(std::string_view line,
                                                   const output::RecordSink& emit,
                                                   bool& output_healthy);

// Answers for lines the stdin reader could not deliver: too long, or not UTF-8.
inline constexpr std::string_view kOversizedRequest = "Request exceeds the 64 KiB limit";
inline constexpr std::string_view kInvalidUtf8Request = "Request must be UTF-8 JSON";
void answer_unreadable_request(std::string_view message, const output::RecordSink& emit,
                               bool& output_healthy);

}  // namespace quern::request
