#include "status.hpp"

#include <unistd.h>

#include <string>

namespace velmoran::cli {

namespace {

// One write per message, so lines of parallel runs never interleave.
void write_line(std::string line) {
  line.push_back('\n');
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) return;  // nowhere left to report to
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void report_failure(std::string_view object, std::string_view reason) {
  std::string line = "velmoran: ";
  line.append(object).append(": ").append(reason);
  write_line(std::move(line));
}

int usage_error(std::string_view reason) {
  std::string line = "velmoran: ";
  line.append(reason);
  write_line(std::move(line));
  return kExitUsage;
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace velmoran::cli
