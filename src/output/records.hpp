#pragma once

#include <string_view>

#include "json/value.hpp"

namespace quern::output {

// {"error":message,"id":id,"ok":false,"type":"response"}; the id is taken over
// as it is (null where a refusal carries no id).
json::Value error_response(json::Value id, std::string_view message);

// {"id":id,"ok":true,"result":{"shutdown":true},"type":"response"}
json::Value shutdown_response(json::Value id);

// {"error":message,"type":"fatal"}
json::Value fatal_record(std::string_view message);

}  // namespace quern::output
