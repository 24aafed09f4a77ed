#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace quern::json::detail {

// An object's members go in the byte order of their keys (the UTF-8 bytes
// compared as unsigned, as std::string and std::string_view compare them), and
// of a key given more than once the last one given wins. Object::from_members
// puts parsed members in order here, and the rewriter its members' spans.

// Objects are small: up to this many items an insertion sort, which keeps equal
// keys in arrival order, beats anything that needs a buffer of its own.
inline constexpr std::size_t kInsertionSortLimit = 32;

// Puts items, given in arrival order, in key order and keeps only the last of
// each repeated key. before orders two items by their keys (strictly);
// same_key tells two items' keys equal. Answers false, having moved nothing,
// when the items already were in order with no key repeated.
template <typename Item, typename Before, typename SameKey>
bool put_in_key_order(std::vector<Item>& items, Before before, SameKey same_key) {
    bool in_order = true;
    for (std::size_t i = 1; i < items.size() && in_order; ++i) in_order = before(items[i - 1], items[i]);
    if (in_order) return false;
    if (items.size() <= kInsertionSortLimit) {
        for (std::size_t i = 1; i < items.size(); ++i) {
            Item moving = std::move(items[i]);
            std::size_t at = i;
            for (; at > 0 && before(moving, items[at - 1]); --at) items[at] = std::move(items[at - 1]);
            items[at] = std::move(moving);
        }
    } else {
        std::stable_sort(items.begin(), items.end(), before);
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i + 1 < items.size() && same_key(items[i], items[i + 1])) continue;
        if (kept != i) items[kept] = std::move(items[i]);
        ++kept;
    }
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(kept), items.end());
    return true;
}

}  // namespace quern::json::detail
