// The interface of anything that produces a sequence of spectra, and the
// owned, type-erased sequence it hands out.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include <quorlith/visibility.hpp>
#include <quorlith/types.hpp>

namespace quorlith {

struct SizeHint {
  std::size_t lower = 0;
  std::optional<std::size_t> upper;

  friend bool operator==(const SizeHint&, const SizeHint&) = default;
};

// A forward sequence of records, owned by whoever called iter_spectra.
// Destroying it drops the records not yet produced. Used by one thread at
// a time.
class QUORLITH_EXPORT SpectrumSequence {
 public:
  SpectrumSequence() = default;
  SpectrumSequence(const SpectrumSequence&) = delete;
  SpectrumSequence& operator=(const SpectrumSequence&) = delete;
  virtual ~SpectrumSequence() = default;

  // The next record, or nullopt at the end (and on every call after it).
  [[nodiscard]] virtual std::optional<SpectrumRecord> next() = 0;

  // A lower bound of the records still to come and an optional upper bound.
  [[nodiscard]] virtual SizeHint size_hint() const = 0;

  // Steps over up to n records; returns how many of the n steps remained
  // untaken (0 when all were taken).
  [[nodiscard]] virtual std::size_t advance_by(std::size_t n);

  // Steps over n records and produces the next one; nullopt when fewer
  // than n records were left or none follows them.
  [[nodiscard]] virtual std::optional<SpectrumRecord> nth(std::size_t n);
};

class QUORLITH_EXPORT SpectrumSource {
 public:
  SpectrumSource() = default;
  SpectrumSource(const SpectrumSource&) = default;
  SpectrumSource(SpectrumSource&&) noexcept = default;
  SpectrumSource& operator=(const SpectrumSource&) = default;
  SpectrumSource& operator=(SpectrumSource&&) noexcept = default;
  virtual ~SpectrumSource() = default;

  // A fresh sequence from the first spectrum. It may refer to this source,
  // which must outlive it; sequences are independent of each other.
  [[nodiscard]] virtual std::unique_ptr<SpectrumSequence> iter_spectra() const = 0;
};

}  // namespace quorlith
