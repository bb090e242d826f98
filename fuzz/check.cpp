#include "check.hpp"

#include <cstdio>
#include <cstdlib>

namespace velmoran::fuzz {

void invariant_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

}  // namespace velmoran::fuzz
