#include "output/records.hpp"

namespace quern::output {

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

}  // namespace quern::output
