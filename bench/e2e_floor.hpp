// The floor of reading a whole run: the least work that turns a run's
// blocks into the spectrum arrays the library produces, with none of the
// library's structure around it. Each file is opened once, every block is
// read with one pread into a reused buffer, profile streams are expanded
// by Debian's liblzf into a reused buffer (or, on request, by the library's
// own decoder), and each scan's two arrays are
// allocated once at their final size and filled by a plain loop.
//
// It follows the library's choice of data (the profile block; the peak
// block when the profile gave no points) and computes the same values, so
// its arrays can be compared with the library's bit for bit. It trusts its
// input: a block it cannot read or expand ends the benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <velmoran/raw/msscan.hpp>

namespace velmoran::bench {

// What the floor reads for one scan, taken from the parsed scan table.
struct FloorScan {
  std::optional<raw::BlockRef> profile;
  std::optional<raw::BlockRef> peak;
  double first_mz = 0.0;
  double last_mz = 0.0;
};

struct FloorPlan {
  std::filesystem::path profile_path;
  std::filesystem::path peak_path;
  std::vector<FloorScan> scans;
  // Sizes of the two reused buffers.
  std::size_t largest_block = 0;
  std::size_t largest_expanded = 0;
};

// One scan's arrays as the floor makes them.
struct FloorSpectrum {
  std::unique_ptr<double[]> mz;
  std::unique_ptr<float[]> intensity;
  std::size_t size = 0;
};

struct FloorOptions {
  // Expand profile streams with the library's own LZF decoder instead of
  // liblzf's: the floor of the rest of the work, where the library's
  // decoder is the faster of the two.
  bool own_lzf = false;
  // Open and close the data file around every block, as the library must,
  // instead of once per run.
  bool open_per_block = false;
  // Keep every scan's arrays (as a reader that holds the run does); when
  // false each scan's arrays are released before the next scan is read.
  bool keep = true;
};

// The plan of the run at `dataset` (parses its scan table with the
// library's parser, outside any timing).
[[nodiscard]] FloorPlan make_floor_plan(const std::filesystem::path& dataset);

// Reads and decodes every scan of the plan; the returned spectra are empty
// unless options.keep. Exits the process with a message on a failure.
[[nodiscard]] std::vector<FloorSpectrum> run_floor(const FloorPlan& plan,
                                                   const FloorOptions& options);

}  // namespace velmoran::bench
