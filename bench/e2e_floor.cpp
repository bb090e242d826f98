#include "e2e_floor.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

#include <lzf.h>

#include "raw/bytes.hpp"
#include "raw/lzf.hpp"

namespace velmoran::bench {

namespace {

constexpr std::size_t kProfilePreamble = 16;
constexpr std::size_t kProfileHeader = 16;

[[noreturn]] void die(const char* what, const std::filesystem::path& path) {
  std::fprintf(stderr, "e2e floor: %s: %s\n", what, path.c_str());
  std::exit(1);
}

class File {
 public:
  explicit File(const std::filesystem::path& path)
      : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) die(std::strerror(errno), path);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { ::close(fd_); }

  // Reads `length` bytes at `offset` into `out` with pread.
  void read_at(std::uint8_t* out, std::size_t length, std::uint64_t offset) const {
    std::size_t filled = 0;
    while (filled < length) {
      const ssize_t got =
          ::pread(fd_, out + filled, length - filled, static_cast<off_t>(offset + filled));
      if (got > 0) {
        filled += static_cast<std::size_t>(got);
      } else if (got == 0) {
        die("block past the end of the file", path_);
      } else if (errno != EINTR) {
        die(std::strerror(errno), path_);
      }
    }
  }

 private:
  const std::filesystem::path& path_;
  int fd_;
};

// Reads one block, through the run-wide handle or a handle of its own.
void read_block(const std::optional<File>& shared, const std::filesystem::path& path,
                const raw::BlockRef& block, std::uint8_t* out) {
  if (shared) {
    shared->read_at(out, block.byte_count, block.offset);
  } else {
    const File file(path);
    file.read_at(out, block.byte_count, block.offset);
  }
}

FloorSpectrum allocate(std::size_t n) {
  FloorSpectrum spectrum;
  spectrum.mz = std::make_unique_for_overwrite<double[]>(n);
  spectrum.intensity = std::make_unique_for_overwrite<float[]>(n);
  spectrum.size = n;
  return spectrum;
}

// Expands a profile stream into `expanded` with liblzf, or with the
// library's decoder into a buffer of its own.
const std::uint8_t* expand(const std::uint8_t* block, const raw::BlockRef& ref, bool own_lzf,
                           std::uint8_t* expanded, raw::Bytes& own_buffer,
                           const std::filesystem::path& path) {
  const std::size_t stream_size = ref.byte_count - kProfilePreamble;
  const unsigned want = *ref.uncompressed_byte_count;
  if (own_lzf) {
    auto out = raw::decompress({block + kProfilePreamble, stream_size}, want);
    if (!out) die("the library's decoder cannot expand a profile block", path);
    own_buffer = std::move(out).value();
    return own_buffer.data();
  }
  const unsigned got =
      lzf_decompress(block + kProfilePreamble, static_cast<unsigned>(stream_size), expanded, want);
  if (got != want) die("liblzf cannot expand a profile block", path);
  return expanded;
}

FloorSpectrum decode_profile(const std::uint8_t* expanded, const FloorScan& scan) {
  const raw::BlockRef& ref = *scan.profile;

  const std::size_t n = ref.point_count;
  FloorSpectrum out = allocate(n);
  const std::uint8_t* counts = expanded + kProfileHeader;
  for (std::size_t i = 0; i < n; ++i) {
    out.intensity[i] = static_cast<float>(raw::load_le<std::uint32_t>(counts + 4 * i));
  }
  // A 32-bit index, which SSE2 converts to double two at a time (the plan
  // refused blocks too large for it).
  const double first = scan.first_mz;
  const double step = n == 1 ? 0.0 : (scan.last_mz - first) / static_cast<double>(n - 1);
  const auto points = static_cast<std::int32_t>(n);
  double* const mz = out.mz.get();
  for (std::int32_t i = 0; i < points; ++i) mz[i] = first + step * static_cast<double>(i);
  return out;
}

FloorSpectrum decode_peaks(const std::uint8_t* block, const raw::BlockRef& ref) {
  const std::size_t n = ref.point_count;
  FloorSpectrum out = allocate(n);
  if (ref.format_id == raw::kPeakFormatInterleaved) {
    for (std::size_t i = 0; i < n; ++i) {
      out.mz[i] = raw::load_le<double>(block + 12 * i);
      out.intensity[i] = raw::load_le<float>(block + 12 * i + 8);
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) out.mz[i] = raw::load_le<double>(block + 8 * i) / 100.0;
    std::memcpy(out.intensity.get(), block + 8 * n, 4 * n);
  }
  return out;
}

}  // namespace

FloorPlan make_floor_plan(const std::filesystem::path& dataset) {
  const std::filesystem::path acq_data = dataset / "AcqData";
  auto table = raw::MSScan::from_path(acq_data / "MSScan.bin");
  if (!table) die("cannot parse the scan table", acq_data / "MSScan.bin");

  FloorPlan plan;
  plan.profile_path = acq_data / "MSProfile.bin";
  plan.peak_path = acq_data / "MSPeak.bin";
  plan.scans.reserve(table->records.size());
  for (const raw::ScanRecord& record : table->records) {
    FloorScan scan;
    scan.first_mz = record.mz_range_low.value_or(0.0);
    scan.last_mz = record.mz_range_high.value_or(0.0);
    // A profile block without points yields nothing: the peak block is used.
    if (record.profile_block && record.profile_block->point_count > 0) {
      scan.profile = record.profile_block;
      if (scan.profile->byte_count < kProfilePreamble || !scan.profile->uncompressed_byte_count ||
          scan.profile->point_count > std::uint32_t{std::numeric_limits<std::int32_t>::max()} ||
          *scan.profile->uncompressed_byte_count <
              kProfileHeader + std::uint64_t{4} * scan.profile->point_count) {
        die("a profile block the floor cannot take", plan.profile_path);
      }
      plan.largest_expanded =
          std::max<std::size_t>(plan.largest_expanded, *scan.profile->uncompressed_byte_count);
    } else if (record.peak_block) {
      scan.peak = record.peak_block;
      if (scan.peak->byte_count < std::uint64_t{12} * scan.peak->point_count) {
        die("a peak block the floor cannot take", plan.peak_path);
      }
    }
    for (const auto& block : {scan.profile, scan.peak}) {
      if (block) plan.largest_block = std::max<std::size_t>(plan.largest_block, block->byte_count);
    }
    plan.scans.push_back(scan);
  }
  return plan;
}

std::vector<FloorSpectrum> run_floor(const FloorPlan& plan, const FloorOptions& options) {
  std::optional<File> profile_file;
  std::optional<File> peak_file;
  if (!options.open_per_block) {
    profile_file.emplace(plan.profile_path);
    peak_file.emplace(plan.peak_path);
  }
  raw::Bytes block(plan.largest_block);
  raw::Bytes expanded(plan.largest_expanded);
  std::uint8_t* const block_data = block.data();
  std::uint8_t* const expanded_data = expanded.data();

  std::vector<FloorSpectrum> spectra;
  if (options.keep) spectra.reserve(plan.scans.size());
  for (const FloorScan& scan : plan.scans) {
    FloorSpectrum spectrum;
    if (scan.profile) {
      read_block(profile_file, plan.profile_path, *scan.profile, block_data);
      raw::Bytes own_buffer;
      const std::uint8_t* data = expand(block_data, *scan.profile, options.own_lzf, expanded_data,
                                        own_buffer, plan.profile_path);
      spectrum = decode_profile(data, scan);
    } else if (scan.peak) {
      read_block(peak_file, plan.peak_path, *scan.peak, block_data);
      spectrum = decode_peaks(block_data, *scan.peak);
    }
    if (options.keep) spectra.push_back(std::move(spectrum));
  }
  return spectra;
}

}  // namespace velmoran::bench
