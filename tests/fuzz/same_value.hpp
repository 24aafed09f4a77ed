#pragma once

#include <algorithm>
#include <cmath>

#include "json/value.hpp"

namespace quern::fuzz {

// Equality that also tells -0.0 from 0.0, which Value's == does not.
inline bool same(const json::Value& a, const json::Value& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case json::Kind::Float:
            return a.as_double() == b.as_double() && std::signbit(a.as_double()) == std::signbit(b.as_double());
        case json::Kind::Array:
            return std::equal(a.as_array().begin(), a.as_array().end(), b.as_array().begin(), b.as_array().end(), same);
        case json::Kind::Object:
            return std::equal(a.as_object().begin(), a.as_object().end(), b.as_object().begin(),
                              b.as_object().end(), [](const json::Member& x, const json::Member& y) {
                                  return x.key == y.key && same(x.value, y.value);
                              });
        default: return a == b;
    }
}

}  // namespace quern::fuzz
