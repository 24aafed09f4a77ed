#pragma once

#include <array>
#include <string_view>

namespace quern::protocol {

inline constexpr std::size_t kCommandCount = 107;

// The commands the front end may send, in their fixed order.
extern const std::array<std::string_view, kCommandCount> kCommandTable;

// Byte-for-byte membership (letter case matters), first entry to last.
bool is_allowed_command(std::string_view command);

}  // namespace quern::protocol
