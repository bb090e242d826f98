// A value the user gave, quoted in a one-line message: "\"abc\"".
#pragma once

#include <string>
#include <string_view>

namespace velmoran::textio {

// `value` in double quotes, its control characters shown as '?' (so a
// message stays one line on a terminal and cannot move the cursor), and
// cut after 60 bytes (at a UTF-8 character's start) with "..." when longer.
[[nodiscard]] std::string quoted_value(std::string_view value);

}  // namespace velmoran::textio
