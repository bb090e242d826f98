#include <quorlith/source.hpp>

namespace quorlith {

std::size_t SpectrumSequence::advance_by(std::size_t n) {
  for (std::size_t taken = 0; taken < n; ++taken) {
    if (!next()) return n - taken;
  }
  return 0;
}

std::optional<SpectrumRecord> SpectrumSequence::nth(std::size_t n) {
  if (advance_by(n) != 0) return std::nullopt;
  return next();
}

}  // namespace quorlith
