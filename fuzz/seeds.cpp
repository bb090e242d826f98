#include "seeds.hpp"

#include <limits>
#include <string>

#include "dataset_writer.hpp"

namespace velmoran::fuzz {

namespace {

using testkit::Layout;

// A small deterministic generator: seeds must be the same on every run.
class Numbers {
 public:
  explicit Numbers(std::uint64_t seed) : state_(seed | 1) {}
  std::uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 16);
  }

 private:
  std::uint64_t state_;
};

// Profile intensities: a low noisy baseline with a few peaks and runs of
// zeros, so the compressor finds both literals and references.
std::vector<std::uint32_t> profile_intensities(std::size_t count, std::uint64_t seed) {
  Numbers numbers(seed);
  std::vector<std::uint32_t> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    const bool zero_run = (i / 40) % 3 == 2;
    out[i] = zero_run ? 0 : 50 + numbers.next() % 20;
    if (i % 97 == 10) out[i] = 100000 + numbers.next() % 5000000;
  }
  return out;
}

struct Peaks {
  std::vector<double> mz;
  std::vector<float> intensity;
};

Peaks centroids(std::size_t count, std::uint64_t seed) {
  Numbers numbers(seed);
  Peaks peaks;
  double mz = 100.0;
  for (std::size_t i = 0; i < count; ++i) {
    mz += 0.5 + static_cast<double>(numbers.next() % 10000) / 100.0;
    peaks.mz.push_back(mz);
    peaks.intensity.push_back(static_cast<float>(numbers.next() % 1000000) / 8.0F);
  }
  return peaks;
}

constexpr std::uint32_t kClaimAll = 0xFFFFFFFFU;

// An LZF stream that expands as far as the format allows: one literal,
// then back references of 264 bytes at distance 1.
ByteVector max_expansion_stream(std::size_t references) {
  ByteVector stream{0x00, 0x61};
  for (std::size_t i = 0; i < references; ++i) stream.insert(stream.end(), {0xE0, 0xFF, 0x00});
  return stream;
}

std::string layout_name(Layout layout) { return std::to_string(testkit::stride_of(layout)); }

// A run of five scans in the layout: MS1 scans with profile data (284)
// or centroids, MS2 scans with centroids of both formats, a scan with a
// zero-point profile and a peak fallback, a scan with no block.
testkit::DatasetWriter small_run(Layout layout) {
  testkit::DatasetWriter writer;
  writer.table().layout = layout;
  const bool two_descriptors = layout == Layout::k284;
  const bool mrm = layout == Layout::k196 || layout == Layout::k186;
  for (std::uint32_t i = 0; i < 5; ++i) {
    testkit::RecordSpec r;
    r.scan_id = 10 + i;
    r.retention_time_min = 0.25 * i;
    r.ms_level = static_cast<std::uint16_t>(i % 2 == 0 ? 1 : 2);
    r.mrm_channel = mrm ? i % 3 : 0;
    r.precursor_mz = 400.0 + i;
    r.mz_range_low = 100.0;
    r.mz_range_high = 1000.0;
    const Peaks peaks = centroids(4 + i, i);
    switch (i) {
      case 0:
        r.first = writer.add_profile_block(profile_intensities(300, i));
        if (two_descriptors) r.second = writer.add_peak_block(3, peaks.mz, peaks.intensity);
        break;
      case 1:
        r.first = writer.add_peak_block(2, peaks.mz, peaks.intensity);
        break;
      case 2:
        r.first = writer.add_peak_block(3, peaks.mz, peaks.intensity);
        break;
      case 3:
        r.first = writer.add_profile_block({});
        if (two_descriptors) r.second = writer.add_peak_block(2, peaks.mz, peaks.intensity);
        break;
      default:
        break;
    }
    writer.table().records.push_back(r);
  }
  return writer;
}

ByteVector dataset_input(testkit::DatasetWriter writer, std::uint8_t flags) {
  const ByteVector table = testkit::build_scan_table(writer.table());
  return join_dataset_input(flags, table, writer.peak_file(), writer.profile_file());
}

std::vector<Seed> msscan_seeds() {
  std::vector<Seed> seeds;
  for (Layout layout : testkit::kAllLayouts) {
    const testkit::DatasetWriter writer = small_run(layout);
    seeds.push_back({"run" + layout_name(layout), testkit::build_scan_table(writer.table())});
    testkit::ScanTableSpec one = writer.table();
    one.records.resize(1);
    seeds.push_back({"one" + layout_name(layout), testkit::build_scan_table(one)});
  }
  testkit::ScanTableSpec offset = small_run(Layout::k220).table();
  offset.payload_offset = 150;
  seeds.push_back({"offset150", testkit::build_scan_table(offset)});
  offset.payload_offset = 0;
  offset.records.resize(1);
  seeds.push_back({"offset0", testkit::build_scan_table(offset)});
  return seeds;
}

std::vector<Seed> lzf_seeds() {
  std::vector<Seed> seeds;
  const auto add = [&](std::string name, ByteView data) {
    const ByteVector stream = testkit::lzf_compress(data);
    seeds.push_back(
        {std::move(name), join_lzf_input(static_cast<std::uint32_t>(data.size()), stream)});
  };
  for (std::size_t points : {1U, 50U, 700U, 3000U}) {
    const ByteVector payload = testkit::profile_payload(profile_intensities(points, points));
    add("profile" + std::to_string(points), payload);
  }
  add("one_byte_run", ByteVector(2000, 0x41));
  for (std::size_t period = 2; period <= 17; period += 5) {
    ByteVector pattern(1500);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      pattern[i] = static_cast<std::uint8_t>(i % period * 37);
    }
    add("period" + std::to_string(period), pattern);
  }
  const std::string text = "centroid peak lists and profile blocks, profile blocks and peaks";
  add("text", ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  // Hand-made streams, each with the length that makes it interesting.
  const auto raw = [&](std::string name, std::uint32_t selector, ByteVector stream) {
    seeds.push_back({std::move(name), join_lzf_input(selector, stream)});
  };
  raw("literal", 1, {0x00, 0x61});
  raw("distance1", 4, {0x00, 0x61, 0x20, 0x00});
  raw("extended", 265, {0x00, 0x61, 0xE0, 0xFF, 0x00});
  raw("truncated_length", 2, {0x00, 0x61, 0xE0});
  raw("huge_length", kClaimAll, max_expansion_stream(40));
  return seeds;
}

std::vector<Seed> peak_seeds() {
  std::vector<Seed> seeds;
  const Peaks peaks = centroids(6, 7);
  for (const std::uint8_t format : {std::uint8_t{2}, std::uint8_t{3}}) {
    const ByteVector block = testkit::encode_peak_block(format, peaks.mz, peaks.intensity);
    seeds.push_back({"format" + std::to_string(format), join_peak_input(format, 6, block)});
  }
  seeds.push_back({"empty", join_peak_input(3, 0, {})});
  seeds.push_back({"profile_id", join_peak_input(1, 0, {})});
  seeds.push_back({"claims_all", join_peak_input(3, kClaimAll, ByteVector(24, 0x40))});
  return seeds;
}

std::vector<Seed> profile_seeds() {
  std::vector<Seed> seeds;
  for (std::uint32_t points : {1U, 3U, 250U}) {
    const ByteVector payload = testkit::profile_payload(profile_intensities(points, 3 * points));
    const ByteVector block = testkit::encode_profile_block(payload);
    seeds.push_back(
        {"points" + std::to_string(points),
         join_profile_input(kHasUncompressedCount, static_cast<std::uint32_t>(payload.size()),
                            points, 100.0, 2000.0, block)});
  }
  ByteVector surplus = testkit::profile_payload(profile_intensities(20, 5));
  surplus.resize(surplus.size() + 12, 0xAB);
  seeds.push_back({"surplus", join_profile_input(
                                  kHasUncompressedCount, static_cast<std::uint32_t>(surplus.size()),
                                  20, 300.0, 200.0, testkit::encode_profile_block(surplus))});
  seeds.push_back({"no_count", join_profile_input(0, 0, 0, 0.0, 0.0, ByteVector(16, 0))});
  ByteVector expanding(16, 0);
  const ByteVector stream = max_expansion_stream(40);
  expanding.insert(expanding.end(), stream.begin(), stream.end());
  seeds.push_back({"claims_all", join_profile_input(kHasUncompressedCount, kClaimAll, kClaimAll,
                                                    100.0, 200.0, expanding)});
  return seeds;
}

std::vector<Seed> dataset_seeds() {
  std::vector<Seed> seeds;
  for (Layout layout : testkit::kAllLayouts) {
    seeds.push_back({"run" + layout_name(layout), dataset_input(small_run(layout), 0)});
  }
  testkit::DatasetWriter writer = small_run(Layout::k284);
  seeds.push_back({"no_peak_file", dataset_input(writer, kNoPeakFile)});
  seeds.push_back({"no_profile_file", dataset_input(writer, kNoProfileFile)});
  seeds.push_back({"acqdata_file", dataset_input(writer, kAcqDataIsFile)});
  // Every count at its largest: blocks of 4 GiB, 2^32-1 points.
  for (testkit::RecordSpec& r : writer.table().records) {
    for (testkit::Descriptor* d : {&r.first, &r.second}) {
      if (d->format_id == 0) continue;
      d->byte_count = kClaimAll;
      d->point_count = kClaimAll;
      if (d->format_id == 1) d->uncompressed_byte_count = kClaimAll;
    }
  }
  seeds.push_back({"claims_all", dataset_input(writer, 0)});
  return seeds;
}

#ifdef VELMORAN_FUZZ_EXPORT
// Spectra as a damaged scan table or data block can make them.
std::vector<Seed> export_seeds() {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const auto points = [](ExportInput fields, std::size_t count, double first, double step,
                         float intensity) {
    for (std::size_t i = 0; i < count; ++i) {
      fields.mz.push_back(first + step * static_cast<double>(i));
      fields.intensity.push_back(intensity * static_cast<float>(i % 7));
    }
    return fields;
  };
  const ExportInput fragment{
      kHasPrecursor | kHasSelectedMz | kHasMzRange, 2, 7, 61.5, 445.12, 50.0, 2000.0, {}, {}};
  const ExportInput survey{kHasMzRange | kProfile, 1, 6, 60.0, 0.0, 100.0, 1000.0, {}, {}};
  ExportInput hostile{
      kHasPrecursor | kHasSelectedMz | kHasMzRange, 2, 9, kNaN, kInf, kNaN, kInf, {}, {}};
  hostile.mz = {1e-300, -5.0, kNaN, 2147483648.0, kInf, 0.0};
  hostile.intensity = {1.0f, std::numeric_limits<float>::quiet_NaN(), -3.0f, 1e38f, 0.0f, 2.0f};
  return {
      {"centroids", join_export_input(points(fragment, 40, 101.25, 13.37, 1000.5f))},
      {"profile", join_export_input(points(survey, 300, 100.0, 0.01, 250.0f))},
      {"nan_axis", join_export_input(points(survey, 50, kNaN, 0.0, 250.0f))},
      {"beyond_2_31", join_export_input(points(survey, 20, 3e9, 1e6, 10.0f))},
      {"tiny_two", join_export_input(points(fragment, 2, 1e-300, 1e-300, 5.0f))},
      {"hostile", join_export_input(hostile)},
      {"empty", join_export_input(fragment)},
  };
}
#endif

}  // namespace

std::vector<Seed> seeds_for(std::string_view target) {
  if (target == "msscan") return msscan_seeds();
  if (target == "lzf") return lzf_seeds();
  if (target == "peak") return peak_seeds();
  if (target == "profile") return profile_seeds();
  if (target == "dataset") return dataset_seeds();
#ifdef VELMORAN_FUZZ_EXPORT
  if (target == "export") return export_seeds();
#endif
  return {};
}

}  // namespace velmoran::fuzz
