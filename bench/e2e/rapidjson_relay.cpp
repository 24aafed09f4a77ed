// A plain relay built the usual way with RapidJSON's DOM, the peer the runtime
// is measured against: per line parse, drop what is not a record (an object
// with a string "type"), write compact with object keys in byte order at every
// depth, one write per line.
#include <unistd.h>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "write_all.hpp"

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

using e2e::write_all;

bool key_less(const rapidjson::Value::Member* a, const rapidjson::Value::Member* b) {
    const std::string_view x(a->name.GetString(), a->name.GetStringLength());
    const std::string_view y(b->name.GetString(), b->name.GetStringLength());
    return x < y;  // char_traits<char> compares as unsigned char: byte order
}

// Members are visited in sorted order instead of sorting the DOM in place:
// RapidJSON 1.1's members cannot be swapped by std::sort.
void write_sorted(const rapidjson::Value& value, Writer& writer) {
    if (value.IsObject()) {
        std::vector<const rapidjson::Value::Member*> members;
        members.reserve(value.MemberCount());
        for (auto it = value.MemberBegin(); it != value.MemberEnd(); ++it) members.push_back(&*it);
        std::sort(members.begin(), members.end(), key_less);
        writer.StartObject();
        for (const auto* member : members) {
            writer.Key(member->name.GetString(), member->name.GetStringLength());
            write_sorted(member->value, writer);
        }
        writer.EndObject();
    } else if (value.IsArray()) {
        writer.StartArray();
        for (const auto& element : value.GetArray()) write_sorted(element, writer);
        writer.EndArray();
    } else {
        value.Accept(writer);
    }
}

bool is_record(const rapidjson::Document& document) {
    if (!document.IsObject()) return false;
    const auto type = document.FindMember("type");
    return type != document.MemberEnd() && type->value.IsString();
}

}  // namespace

int main() {
    std::string pending;
    std::string input(1 << 20, '\0');
    rapidjson::StringBuffer out;
    for (;;) {
        const ssize_t n = ::read(0, input.data(), input.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(input.data(), static_cast<std::size_t>(n));
        std::size_t begin = 0;
        for (std::size_t lf; (lf = pending.find('\n', begin)) != std::string::npos; begin = lf + 1) {
            rapidjson::Document document;
            // Full precision: the default float parse may be off in the last bit.
            document.Parse<rapidjson::kParseFullPrecisionFlag>(pending.data() + begin, lf - begin);
            if (document.HasParseError() || !is_record(document)) {
                std::fputs("rapidjson relay: dropped a line that is not a record\n", stderr);
                continue;
            }
            out.Clear();
            Writer writer(out);
            write_sorted(document, writer);
            out.Put('\n');
            if (!write_all(1, out.GetString(), out.GetSize())) return 1;
        }
        pending.erase(0, begin);
    }
    return 0;
}
