// Lossy UTF-8 decoding of file names, which are raw bytes on POSIX.
#pragma once

#include <string>
#include <string_view>

namespace velmoran {

// Returns `bytes` with each maximal invalid UTF-8 subsequence replaced by
// U+FFFD; valid text is returned unchanged.
[[nodiscard]] std::string utf8_lossy(std::string_view bytes);

}  // namespace velmoran
