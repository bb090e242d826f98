// The generators' random numbers: the same sequence for a seed on every
// platform and standard library, unlike the standard distributions.
#pragma once

#include <cstdint>

namespace velmoran::testkit {

// splitmix64: small, fast and the same everywhere, unlike the standard
// distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1), on a grid of 2^-53.
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double between(double low, double high) { return low + (high - low) * unit(); }

 private:
  std::uint64_t state_;
};

}  // namespace velmoran::testkit
