// A plain relay built with simdjson's DOM parser, the second library peer: per
// line parse, drop what is not a record (an object with a string "type"),
// write compact with object keys in byte order at every depth, one write per
// line. Strings and numbers are written by simdjson's own minifier, so this is
// simdjson's canonical text: strings escape exactly as the runtime's and the
// RapidJSON relay's do, but a float with an exponent comes out as 1.5e-07, not
// 1.5e-7, and the plain range ends at 1e-4 instead of 1e-5. The benchmark
// therefore checks this relay's output by line count, as it does jq's.
#include <sys/uio.h>
#include <unistd.h>

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "write_all.hpp"

namespace {

using Formatter = simdjson::internal::mini_formatter;

using e2e::write_all;

// The line and its line feed in one system call.
bool write_line(std::string_view text) {
    static char lf = '\n';
    iovec parts[2] = {{const_cast<char*>(text.data()), text.size()}, {&lf, 1}};
    ssize_t n = 0;
    do {
        n = ::writev(1, parts, 2);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    const auto done = static_cast<std::size_t>(n);
    if (done >= text.size() + 1) return true;
    if (done < text.size() && !write_all(1, text.data() + done, text.size() - done)) return false;
    return write_all(1, &lf, 1);
}

struct Member {
    std::string_view key;
    simdjson::dom::element value;
};

// One vector of members per depth, reused from line to line, so sorting an
// object allocates nothing once the first few lines have been seen.
class SortedWriter {
public:
    explicit SortedWriter(Formatter& out) : out_(out) {}

    void write(simdjson::dom::element value, std::size_t depth = 0) {
        switch (value.type()) {
            case simdjson::dom::element_type::OBJECT: {
                simdjson::dom::object object;
                if (value.get(object) == simdjson::SUCCESS) write_object(object, depth);
                break;
            }
            case simdjson::dom::element_type::ARRAY: {
                simdjson::dom::array array;
                if (value.get(array) != simdjson::SUCCESS) break;
                out_.start_array();
                bool first = true;
                for (simdjson::dom::element element : array) {
                    if (!first) out_.comma();
                    first = false;
                    write(element, depth + 1);
                }
                out_.end_array();
                break;
            }
            case simdjson::dom::element_type::INT64: out_.number(value.get_int64().value_unsafe()); break;
            case simdjson::dom::element_type::UINT64: out_.number(value.get_uint64().value_unsafe()); break;
            case simdjson::dom::element_type::DOUBLE: out_.number(value.get_double().value_unsafe()); break;
            case simdjson::dom::element_type::STRING: out_.string(value.get_string().value_unsafe()); break;
            case simdjson::dom::element_type::BOOL:
                if (value.get_bool().value_unsafe()) {
                    out_.true_atom();
                } else {
                    out_.false_atom();
                }
                break;
            case simdjson::dom::element_type::NULL_VALUE: out_.null_atom(); break;
        }
    }

private:
    void write_object(simdjson::dom::object object, std::size_t depth) {
        if (levels_.size() <= depth) levels_.resize(depth + 1);
        std::vector<Member>& members = levels_[depth];
        members.clear();
        for (simdjson::dom::key_value_pair member : object) members.push_back({member.key, member.value});
        // string_view compares as unsigned char: byte order.
        std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) { return a.key < b.key; });
        out_.start_object();
        // A deeper object may grow levels_, which moves this level's vector:
        // it is looked up again for every member.
        for (std::size_t i = 0; i < levels_[depth].size(); ++i) {
            if (i > 0) out_.comma();
            const Member member = levels_[depth][i];
            out_.key(member.key);
            write(member.value, depth + 1);
        }
        out_.end_object();
    }

    Formatter& out_;
    std::vector<std::vector<Member>> levels_;
};

bool is_record(simdjson::dom::element document) {
    simdjson::dom::object object;
    if (document.get_object().get(object) != simdjson::SUCCESS) return false;
    simdjson::dom::element type;
    return object.at_key("type").get(type) == simdjson::SUCCESS && type.is_string();
}

}  // namespace

int main() {
    // simdjson reads up to SIMDJSON_PADDING bytes past the end of what it
    // parses; lines are parsed where they lie in this buffer, which always has
    // that much room after the bytes read into it.
    std::vector<char> buffer((1 << 20) + simdjson::SIMDJSON_PADDING);
    std::size_t used = 0;
    simdjson::dom::parser parser;
    Formatter out;
    SortedWriter writer(out);
    for (;;) {
        if (buffer.size() - used < (1 << 16) + simdjson::SIMDJSON_PADDING) buffer.resize(buffer.size() * 2);
        const std::size_t room = buffer.size() - used - simdjson::SIMDJSON_PADDING;
        const ssize_t n = ::read(0, buffer.data() + used, room);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
        std::size_t begin = 0;
        for (;;) {
            const void* found = std::memchr(buffer.data() + begin, '\n', used - begin);
            if (found == nullptr) break;
            const std::size_t lf = static_cast<std::size_t>(static_cast<const char*>(found) - buffer.data());
            simdjson::dom::element document;
            if (parser.parse(buffer.data() + begin, lf - begin, false).get(document) != simdjson::SUCCESS ||
                !is_record(document)) {
                std::fputs("simdjson relay: dropped a line that is not a record\n", stderr);
            } else {
                out.clear();
                writer.write(document);
                if (!write_line(out.str())) return 1;
            }
            begin = lf + 1;
        }
        std::memmove(buffer.data(), buffer.data() + begin, used - begin);
        used -= begin;
    }
    return 0;
}
