#include "json/value.hpp"

#include <algorithm>

#include "json/member_order.hpp"

namespace quern::json {

namespace {

// std::string compares through char_traits<char>, which orders bytes as
// unsigned char: exactly the UTF-8 byte order the object needs.
bool key_less(const Member& a, const Member& b) { return a.key < b.key; }

}  // namespace

Object Object::from_members(std::vector<Member> members) {
    detail::put_in_key_order(
        members, [](const Member& a, const Member& b) { return key_less(a, b); },
        [](const Member& a, const Member& b) { return a.key == b.key; });
    Object object;
    object.members_ = std::move(members);
    return object;
}

void Object::set(std::string key, Value value) {
    auto at = std::lower_bound(members_.begin(), members_.end(), key,
                               [](const Member& m, const std::string& k) { return m.key < k; });
    if (at != members_.end() && at->key == key) {
        at->value = std::move(value);
        return;
    }
    members_.insert(at, Member{std::move(key), std::move(value)});
}

const Value* Object::find(std::string_view key) const {
    auto at = std::lower_bound(members_.begin(), members_.end(), key,
                               [](const Member& m, std::string_view k) { return m.key < k; });
    if (at != members_.end() && at->key == key) return &at->value;
    return nullptr;
}

Value Value::from_unsigned(std::uint64_t n) {
    Value v;
    v.data_ = n;
    return v;
}

Value Value::from_signed(std::int64_t n) {
    if (n >= 0) return from_unsigned(static_cast<std::uint64_t>(n));
    Value v;
    v.data_ = n;
    return v;
}

Value Value::from_double(double d) {
    Value v;
    v.data_ = d;
    return v;
}

bool Value::is_number() const {
    Kind k = kind();
    return k == Kind::Unsigned || k == Kind::Negative || k == Kind::Float;
}

}  // namespace quern::json
