// The shared record of one spectrum: identity, timing, data arrays and
// precursor details. A plain owned value, moved from producer to consumer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace quorlith {

// An allocator that default-initialises instead of value-initialising, so
// resizing an array of doubles or floats does not zero memory that the
// decoder is about to overwrite whole.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };

  DefaultInitAllocator() noexcept = default;
  template <class U>
  DefaultInitAllocator(const DefaultInitAllocator<U>& /*other*/) noexcept {}

  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using MzArray = std::vector<double, DefaultInitAllocator<double>>;
using IntensityArray = std::vector<float, DefaultInitAllocator<float>>;

// Precursor details of a fragment (MS level 2 and up) spectrum.
struct Precursor {
  std::optional<double> selected_mz;
  // Reserved: not filled by the acquisition-data reader.
  std::optional<double> isolation_window_target;
  std::optional<double> isolation_window_lower;
  std::optional<double> isolation_window_upper;
  std::optional<double> collision_energy;
  std::optional<std::string> spectrum_ref;
  // Reserved: not filled by the acquisition-data reader.
  std::uint32_t charge = 0;
  std::uint8_t activation_code = 0;
  std::optional<std::uint8_t> dissociation_code;
  std::optional<std::uint8_t> polarity_code;

  friend bool operator==(const Precursor&, const Precursor&) = default;
};

struct SpectrumRecord {
  // Identity and position.
  std::uint64_t index = 0;
  std::string native_id;
  std::uint32_t scan_id = 0;
  std::uint32_t ms_level = 0;

  // Timing.
  double retention_time_sec = 0.0;

  // Data arrays: m/z and intensity of each point, parallel.
  MzArray mz;
  IntensityArray intensity;

  // Optional numeric attributes.
  std::optional<double> mz_range_low;
  std::optional<double> mz_range_high;
  // Reserved: not filled by the acquisition-data reader.
  std::optional<double> total_ion_current;
  std::optional<double> base_peak_mz;
  std::optional<double> base_peak_intensity;
  std::optional<double> ion_injection_time;
  std::optional<double> scan_window_width;

  std::optional<Precursor> precursor;

  // Reserved: not filled by the acquisition-data reader.
  std::optional<std::string> aux_text;
  std::optional<std::vector<std::uint32_t>> aux_values;

  // Codes set by the producer of the record.
  std::uint8_t origin_code = 0;
  bool profile_decoded = false;
  std::uint8_t layout_code = 0;

  friend bool operator==(const SpectrumRecord&, const SpectrumRecord&) = default;
};

}  // namespace quorlith
