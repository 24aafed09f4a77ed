#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quern::json {

class Value;
struct Member;

using Array = std::vector<Value>;

// A JSON object: members kept sorted by the UTF-8 bytes of their keys, each key
// at most once. Writing a present key replaces its value, so the order in which
// members are put in never shows.
class Object {
public:
    Object() = default;
    // Member is incomplete here, and clang with libstdc++ instantiates
    // std::vector<Member>'s members where they are first used: what needs
    // Member complete (copying, moving, destroying, counting) is defined below it.
    Object(const Object& other);
    Object(Object&& other) noexcept;
    Object& operator=(const Object& other);
    Object& operator=(Object&& other) noexcept;
    ~Object();

    // Builds an object from members in arrival order; where a key repeats, the
    // last occurrence wins, as it does for repeated keys in parsed text.
    static Object from_members(std::vector<Member> members);

    void set(std::string key, Value value);
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key) {
        return const_cast<Value*>(static_cast<const Object&>(*this).find(key));
    }
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    std::size_t size() const;
    bool empty() const;
    std::vector<Member>::const_iterator begin() const;
    std::vector<Member>::const_iterator end() const;

    friend bool operator==(const Object& a, const Object& b);

private:
    std::vector<Member> members_;
};

enum class Kind { Null, Bool, Unsigned, Negative, Float, String, Array, Object };

// A JSON value. Numbers keep their kind: an unsigned 64-bit integer, a negative
// signed 64-bit integer (always below zero) or a 64-bit float.
class Value {
public:
    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : data_(b) {}
    Value(std::string s) : data_(std::move(s)) {}
    Value(std::string_view s) : data_(std::string(s)) {}
    Value(const char* s) : data_(std::string(s)) {}
    Value(Array a) : data_(std::move(a)) {}
    Value(Object o) : data_(std::move(o)) {}

    static Value from_unsigned(std::uint64_t n);
    // Non-negative numbers become the unsigned kind, so each integer has one kind.
    static Value from_signed(std::int64_t n);
    static Value from_double(double d);

    Kind kind() const { return static_cast<Kind>(data_.index()); }
    bool is_null() const { return kind() == Kind::Null; }
    bool is_string() const { return kind() == Kind::String; }
    bool is_number() const;
    bool is_object() const { return kind() == Kind::Object; }
    bool is_array() const { return kind() == Kind::Array; }

    bool as_bool() const { return std::get<bool>(data_); }
    std::uint64_t as_unsigned() const { return std::get<std::uint64_t>(data_); }
    std::int64_t as_negative() const { return std::get<std::int64_t>(data_); }
    double as_double() const { return std::get<double>(data_); }
    const std::string& as_string() const { return std::get<std::string>(data_); }
    const Array& as_array() const { return std::get<Array>(data_); }
    const Object& as_object() const { return std::get<Object>(data_); }
    Object& as_object() { return std::get<Object>(data_); }

    friend bool operator==(const Value& a, const Value& b) { return a.data_ == b.data_; }

private:
    // The order of the alternatives follows Kind.
    std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double, std::string, Array,
                 Object>
        data_;
};

struct Member {
    std::string key;
    Value value;

    friend bool operator==(const Member& a, const Member& b) {
        return a.key == b.key && a.value == b.value;
    }
};

inline Object::Object(const Object& other) = default;
inline Object::Object(Object&& other) noexcept = default;
inline Object& Object::operator=(const Object& other) = default;
inline Object& Object::operator=(Object&& other) noexcept = default;
inline Object::~Object() = default;
inline std::size_t Object::size() const { return members_.size(); }
inline bool Object::empty() const { return members_.empty(); }
inline std::vector<Member>::const_iterator Object::begin() const { return members_.begin(); }
inline std::vector<Member>::const_iterator Object::end() const { return members_.end(); }
inline bool operator==(const Object& a, const Object& b) { return a.members_ == b.members_; }

}  // namespace quern::json
