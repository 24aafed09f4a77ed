#pragma once

#include <span>
#include <string_view>

namespace quern::protocol {

// The commands the front end may send, in their fixed order. The table in
// command_table.cpp is their one home: its length is the count, and the
// clients' tests hold their copies to it.
extern const std::span<const std::string_view> kCommandTable;

// Byte-for-byte membership (letter case matters), first entry to last.
bool is_allowed_command(std::string_view command);

}  // namespace quern::protocol
