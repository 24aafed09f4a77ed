#include "request/forwarded_request.hpp"

namespace quern::request {

json::Value forwarded_request(RequestEnvelope envelope) {
    json::Object request;
    request.set("command", std::move(envelope.command));
    request.set("id", std::move(envelope.id));
    request.set("payload", std::move(envelope.payload));
    if (envelope.session) request.set("session", std::move(*envelope.session));
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
