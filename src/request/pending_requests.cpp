#include "request/pending_requests.hpp"

#include "json/write.hpp"

namespace quern::request {

std::string request_key(const json::Value& id) { return json::to_compact_text(id); }

std::vector<PendingEntry> PendingRequests::drain() {
    std::vector<PendingEntry> drained;
    drained.reserve(entries_.size());
    for (auto& [key, entry] : entries_) drained.push_back(std::move(entry));
    entries_.clear();
    return drained;
}

}  // namespace quern::request
