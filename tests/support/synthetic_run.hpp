// Synthetic acquisition runs: a DDA LC-MS run (MS1 survey scans, each
// followed by a few MS2 fragment scans) or an MRM run, laid out by the
// DatasetWriter, together with what a reader must decode from every scan.
// The output depends on the options alone: the random numbers come from our
// own generator and the peak shapes from our own arithmetic, so a seed gives
// the same bytes on every platform and standard library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dataset_writer.hpp"

namespace velmoran::testkit {

// What a reader must produce for one scan.
struct ExpectedSpectrum {
  std::uint32_t scan_id = 0;
  std::uint32_t ms_level = 0;
  // retention time in minutes, as stored, times 60.0
  double retention_time_sec = 0.0;
  std::vector<double> mz;
  std::vector<float> intensity;
  // As the scan table holds them (present per layout and MS level).
  std::optional<double> precursor_mz;
  std::optional<std::uint32_t> mrm_channel;
  std::optional<double> mz_range_low;
  std::optional<double> mz_range_high;
  // The arrays come from a profile block (and the scan has one).
  bool from_profile = false;
  // The instrument's centroids of a scan that has a profile too (the
  // arrays above then hold the profile): its peak block.
  std::vector<double> peak_mz;
  std::vector<float> peak_intensity;
  // The true peaks under a generated profile, where the generator knows
  // them exactly (gaussian_run): apex m/z, height in counts, width at half
  // height in m/z.
  std::vector<double> true_mz;
  std::vector<double> true_height;
  std::vector<double> true_fwhm;
};

// What the writer stores of `record` in a table of `layout`: the scan
// number, MS level and retention time, and the optional fields that layout
// has (offsets_of; the precursor m/z of fragment scans only). The arrays
// are left to the caller.
[[nodiscard]] ExpectedSpectrum stored_fields(Layout layout, const RecordSpec& record);

struct RunOptions {
  // An MRM run (layouts 196 and 186) instead of a DDA run (284, 220, 216).
  bool mrm = false;
  Layout layout = Layout::k284;
  // DDA: survey and fragment scans; the fragment scans are spread evenly
  // after the survey scans.
  std::uint32_t ms1_scans = 20;
  std::uint32_t ms2_scans = 40;
  // MRM: scans in all, about one in ten of MS level 1.
  std::uint32_t mrm_scans = 50;
  std::uint32_t mrm_channels = 6;
  // Points of each MS1 profile (284 layout; the other DDA layouts have no
  // m/z range to span a profile, so their MS1 scans carry centroids).
  std::uint32_t profile_points = 2000;
  // Peaks of each centroid scan.
  std::uint32_t centroid_peaks = 100;
  // 284 layout: fragment scans carry a profile of profile_points points
  // too (their peaks as Gaussians over a noisy baseline), beside the
  // instrument's centroids of the same peaks in their peak block.
  bool profile_ms2 = false;
  // The spray fails halfway: from the middle scan on, every intensity is
  // 0 (a batch's planted outlier).
  bool spray_fails = false;
  std::uint64_t seed = 1;
};

// Why the options cannot make a valid dataset (no scans at all, a layout
// of the other mode, block sizes beyond the 32-bit fields), or nullopt.
[[nodiscard]] std::optional<std::string> run_options_problem(const RunOptions& options);

// Generates the run; throws std::invalid_argument with the problem of
// options that cannot make a valid dataset. `expected`, when given, receives one entry
// per scan, in table order.
[[nodiscard]] DatasetWriter make_run(const RunOptions& options,
                                     std::vector<ExpectedSpectrum>* expected);

// Smallest m/z at or above `mz` that survives the planar peak format's
// round trip: (mz * 100.0) / 100.0 == mz.
[[nodiscard]] double planar_exact_mz(double mz);

// The intensities of one profile scan as the generator makes them: a
// sample's compounds as Gaussian peaks of widely ranging heights over a
// noisy baseline, cut to zero below a threshold. The same seed gives the
// same values.
[[nodiscard]] std::vector<std::uint32_t> synthetic_profile(std::size_t point_count,
                                                           std::uint64_t seed);

}  // namespace velmoran::testkit
