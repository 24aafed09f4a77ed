#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json/rewrite.hpp"
#include "json/value.hpp"

namespace quern::protocol {

// What a request line means, as pure functions: nothing here writes or sends.

// The longest request line, its line feed included.
inline constexpr std::size_t kRequestLineLimit = 65536;

// Answers for lines the stdin reader could not deliver: too long, or not UTF-8.
inline constexpr std::string_view kOversizedRequest = "Request exceeds the 64 KiB limit";
inline constexpr std::string_view kInvalidUtf8Request = "Request must be UTF-8 JSON";

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
// decides the refusal.
std::variant<RequestEnvelope, Refusal> validate_request_line(std::string_view line);

// The compact JSON text of an id: the string 7 gives "\"7\"", the number 7
// gives "7" and 7.0 gives "7.0", so they never share a key; two strings share a
// key exactly when they decode to the same text.
std::string request_key(const json::Value& id);

// The id of the runtime's own shutdown request to the backend.
inline constexpr std::string_view kRuntimeShutdownId = "__runtime_shutdown__";

// The compact text (no line feed) of what the backend receives for an
// accepted request: command, id, payload ({} when none was given) and, only
// when the request had one, session. The envelope is used up: its payload
// moves into the text. Text, not a value, goes to the backend's input writer:
// it is made once, where the request was checked, and the writer only copies.
std::string forwarded_request(RequestEnvelope envelope);

// {"command":"shutdown","id":"__runtime_shutdown__","payload":{}}
std::string runtime_shutdown_record();

// The id whose request key this is (the two are one value in two forms).
json::Value id_of_key(std::string_view key);

// An accepted request, ready for the backend.
struct AcceptedRequest {
    std::string text;  // forwarded_request's text
    std::string key;   // request_key of its id
    bool is_shutdown = false;
};

// Checks request lines as validate_request_line does and makes each accepted
// one into what forwarded_request would make of it. A plainly valid request,
// which is nearly every one, takes a faster road: the line is rewritten into
// its compact text once, and the envelope is checked and forwarded from that
// text, with no value built. Anything else takes validate_request_line's exact
// path, which owns every refusal. It keeps scratch space from line to line, so
// one serves one thread.
class RequestIntake {
public:
    std::variant<AcceptedRequest, Refusal> check(std::string_view line);

private:
    std::optional<AcceptedRequest> accept_plain(std::string_view line);

    json::CompactRewriter rewriter_;
    std::string compact_;
};

}  // namespace quern::protocol
