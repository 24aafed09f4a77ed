#include "request/forwarded_request.hpp"

namespace quern::request {

json::Value forwarded_request(const RequestEnvelope& envelope) {
    json::Object request;
    request.set("command", envelope.command);
    request.set("id", envelope.id);
    request.set("payload", envelope.payload);
    if (envelope.session) request.set("session", *envelope.session);
    return request;
}

json::Value runtime_shutdown_record() {
    json::Object record;
    record.set("command", "shutdown");
    record.set("id", kRuntimeShutdownId);
    record.set("payload", json::Object());
    return record;
}

}  // namespace quern::request
