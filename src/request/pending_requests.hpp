#pragma once

#include <map>
#include <string>
#include <vector>

#include "json/value.hpp"

namespace quern::request {

// The compact JSON text of an id: the string 7 gives "\"7\"", the number 7
// gives "7" and 7.0 gives "7.0", so they never share a key; two strings share a
// key exactly when they decode to the same text.
std::string request_key(const json::Value& id);

struct PendingEntry {
    json::Value id;  // as received, echoed when the request is answered at the end
    bool is_shutdown = false;
};

// Requests forwarded to the backend and not yet answered, ordered by the bytes
// of their keys. Owned and used by the event loop's thread only.
class PendingRequests {
public:
    bool contains(const std::string& key) const { return entries_.count(key) != 0; }
    void insert(std::string key, PendingEntry entry) { entries_.emplace(std::move(key), std::move(entry)); }
    // Removing a key that is not pending does nothing.
    void remove(const std::string& key) { entries_.erase(key); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // Takes every entry out, in ascending key order.
    std::vector<PendingEntry> drain();

private:
    // std::string's ordering compares bytes as unsigned char.
    std::map<std::string, PendingEntry> entries_;
};

}  // namespace quern::request
