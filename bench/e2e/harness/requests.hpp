#pragma once

#include <cstddef>
#include <string>

namespace e2e {

// The requests of the request direction, made on the fly so the harness never
// holds them (its own peak carries over into every child's ru_maxrss):
//   small   {"id":N,"command":"status"}
//   medium  {"id":N,"command":"account_attachment_part","payload":{...}}, ~2 KB
//   large   the same, ~60 KB (the runtime takes at most 64 KiB per request)
// The payload is a part of an upload, base64 text as such parts carry.
struct RequestShape {
    std::string name;
    std::size_t data_bytes = 0;  // 0: no payload
    std::size_t count = 0;       // requests in one pass
    std::size_t bytes = 0;       // their bytes, line feeds included
};

// A shape whose `count` requests add up to at least `total_bytes`.
RequestShape request_shape(const std::string& name, std::size_t total_bytes);

// The same shape with `count` requests.
RequestShape request_shape_of_count(const std::string& name, std::size_t count);

// Appends request `index` of the shape to `out`, with its line feed. Its id is
// the number `index`.
void append_request(const RequestShape& shape, std::size_t index, std::string& out);

}  // namespace e2e
