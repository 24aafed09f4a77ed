#include "requests.hpp"

#include <stdexcept>

namespace e2e {

namespace {

std::size_t data_bytes_of(const std::string& name) {
    if (name == "small") return 0;
    if (name == "medium") return 1'950;
    if (name == "large") return 61'000;
    throw std::runtime_error("no request shape " + name);
}

// The same pseudo-random base64 text for every request of a run, so the
// harness builds it once.
const std::string& upload_data() {
    static const std::string data = [] {
        static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string text(61'000, '\0');
        unsigned state = 20240611;
        for (char& c : text) {
            state = state * 1103515245u + 12345u;
            c = kAlphabet[(state >> 16) & 63];
        }
        return text;
    }();
    return data;
}

}  // namespace

void append_request(const RequestShape& shape, std::size_t index, std::string& out) {
    const std::string id = std::to_string(index);
    if (shape.data_bytes == 0) {
        out += "{\"id\":" + id + ",\"command\":\"status\"}\n";
        return;
    }
    out += "{\"id\":" + id + ",\"command\":\"account_attachment_part\",\"payload\":{\"upload\":\"bench-upload\",\"part\":" +
           id + ",\"data\":\"";
    out.append(upload_data(), 0, shape.data_bytes);
    out += "\"}}\n";
}

RequestShape request_shape(const std::string& name, std::size_t total_bytes) {
    RequestShape shape{name, data_bytes_of(name), 0, 0};
    std::string line;
    while (shape.bytes < total_bytes) {
        line.clear();
        append_request(shape, shape.count, line);
        shape.bytes += line.size();
        ++shape.count;
    }
    return shape;
}

RequestShape request_shape_of_count(const std::string& name, std::size_t count) {
    RequestShape shape{name, data_bytes_of(name), count, 0};
    std::string line;
    for (std::size_t i = 0; i < count; ++i) {
        line.clear();
        append_request(shape, i, line);
        shape.bytes += line.size();
    }
    return shape;
}

}  // namespace e2e
