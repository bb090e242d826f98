// Exit statuses and the one-line messages of the velmoran program.
#pragma once

#include <string_view>

namespace velmoran::cli {

// 0: everything done; 1: a run (or an output) failed; 2: a usage error;
// 3: qc found an outlier and --fail-on-outlier asked for it to fail.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitOutlier = 3;

// "velmoran: OBJECT: REASON" on standard error.
void report_failure(std::string_view object, std::string_view reason);

// "velmoran: REASON" on standard error, and kExitUsage to return.
[[nodiscard]] int usage_error(std::string_view reason);

// Standard error is a terminal (progress is shown only then).
[[nodiscard]] bool stderr_is_terminal();

}  // namespace velmoran::cli
