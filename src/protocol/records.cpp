#include "protocol/records.hpp"

#include <array>
#include <charconv>

namespace quern::protocol {

namespace {

std::string exit_code_text(std::uint32_t code) {
    std::array<char, 16> digits;
    const bool high_bit = (code & 0x80000000u) != 0;
    auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), code, high_bit ? 16 : 10);
    (void)ec;
    return std::string("exit code: ") + (high_bit ? "0x" : "") + std::string(digits.data(), end);
}

}  // namespace

bool is_protocol_record(const json::Value& value) {
    if (!value.is_object()) return false;
    const json::Value* type = value.as_object().find("type");
    return type != nullptr && type->is_string();
}

json::Value error_response(json::Value id, std::string_view message) {
    json::Object record;
    record.set("error", json::Value(message));
    record.set("id", std::move(id));
    record.set("ok", false);
    record.set("type", "response");
    return record;
}

json::Value shutdown_response(json::Value id) {
    json::Object result;
    result.set("shutdown", true);
    json::Object record;
    record.set("id", std::move(id));
    record.set("ok", true);
    record.set("result", std::move(result));
    record.set("type", "response");
    return record;
}

json::Value fatal_record(std::string_view message) {
    json::Object record;
    record.set("error", json::Value(message));
    record.set("type", "fatal");
    return record;
}

std::string backend_exited_message(std::optional<std::uint32_t> exit_code) {
    std::string message = "Python backend exited";
    if (exit_code) message += " (" + exit_code_text(*exit_code) + ")";
    return message;
}

}  // namespace quern::protocol
