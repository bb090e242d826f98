// The chromatograms of an MRM run: one per channel that has scans of MS
// level 2 and up, over those scans in table order, the intensity of a scan
// being the sum of its spectrum's intensities (as the total ion current).
// Scans of MS level 1 stay out, whatever channel they carry: they are the
// run's survey, traced by the TIC.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <quorlith/types.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::mrm {

struct ChannelChromatogram {
  std::uint32_t channel = 0;
  // Per point: the scan's position in the table, its number, its time
  // (minutes as stored, times 60) and its intensity.
  std::vector<std::uint64_t> index;
  std::vector<std::uint32_t> scan_id;
  std::vector<double> rt_sec;
  std::vector<double> intensity;

  friend bool operator==(const ChannelChromatogram&, const ChannelChromatogram&) = default;
};

// Whether any scan of the table carries an MRM channel.
[[nodiscard]] bool is_mrm_run(const raw::MSScan& table) noexcept;

// The channels that scans of the table carry (any MS level), increasing.
[[nodiscard]] std::vector<std::uint32_t> run_channels(const raw::MSScan& table);

// Whether the scan is a point of its channel's chromatogram: it carries a
// channel and its MS level is 2 or more.
[[nodiscard]] bool in_channel_chromatogram(const raw::ScanRecord& scan) noexcept;

// The intensity of a scan's point: the sum of its spectrum's intensities
// in double, as the TIC of the scans table and of mzML. `whole_numbers`
// as for analysis::spectrum_totals (a profile's intensities); the value does
// not depend on it.
[[nodiscard]] double scan_intensity(std::span<const float> intensity, bool whole_numbers);
[[nodiscard]] double scan_intensity(const Reader& reader, const quorlith::SpectrumRecord& record);

// Puts the chromatograms together from the intensities of the chosen scans:
// `positions` are table positions in increasing order, each of a scan that
// is in_channel_chromatogram(), and `intensity[k]` is that of
// positions[k]. Channels in increasing order; a channel none of whose scans
// was chosen has none.
[[nodiscard]] std::vector<ChannelChromatogram> assemble_chromatograms(
    const raw::MSScan& table, std::span<const std::size_t> positions,
    std::span<const double> intensity);

// Reads every scan of the run that is in_channel_chromatogram() (no other)
// on `threads` threads (at least 1) and puts their chromatograms together.
// Scans are read as Reader::read_spectrum reads them (the profile first);
// one whose blocks fail has an empty spectrum and intensity 0, as in every
// other output. Memory: the chromatograms and one spectrum per thread.
[[nodiscard]] std::vector<ChannelChromatogram> channel_chromatograms(const Reader& reader,
                                                                     unsigned threads);
// The same, stopping within a scan's read once `stop` is set: what it
// returns then is incomplete and only to be thrown away.
[[nodiscard]] std::vector<ChannelChromatogram> channel_chromatograms(const Reader& reader,
                                                                     unsigned threads,
                                                                     const std::atomic<bool>& stop);

}  // namespace velmoran::mrm
