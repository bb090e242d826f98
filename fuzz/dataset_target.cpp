// A whole dataset carved from one input, written into a directory of its
// own, opened with Reader::open and drained through iter_spectra: one
// record per scan, in table order, each with parallel arrays, and the
// sequence's bookkeeping exact throughout.
#include <filesystem>
#include <string>

#include "check.hpp"
#include "dataset_writer.hpp"
#include <velmoran/reader.hpp>
#include "targets.hpp"

namespace velmoran::fuzz {

namespace {

// One directory for the life of the process, rewritten for every input.
const std::filesystem::path& dataset_dir() {
  static const testkit::TempDir dir;
  static const std::filesystem::path dataset = dir / "run.d";
  return dataset;
}

void write_dataset(const std::filesystem::path& dataset, const DatasetInput& carved) {
  std::filesystem::remove_all(dataset);
  std::filesystem::create_directories(dataset);
  const auto acq_data = dataset / "AcqData";
  if ((carved.flags & kAcqDataIsFile) != 0) {
    testkit::write_file(acq_data, carved.scan_table);
    return;
  }
  std::filesystem::create_directory(acq_data);
  testkit::write_file(acq_data / "MSScan.bin", carved.scan_table);
  if ((carved.flags & kNoPeakFile) == 0) {
    testkit::write_file(acq_data / "MSPeak.bin", carved.peak_file);
  }
  if ((carved.flags & kNoProfileFile) == 0) {
    testkit::write_file(acq_data / "MSProfile.bin", carved.profile_file);
  }
}

void check_record(const quorlith::SpectrumRecord& record, const raw::ScanRecord& scan,
                  std::size_t index) {
  VELMORAN_FUZZ_CHECK(record.index == index);
  VELMORAN_FUZZ_CHECK(record.scan_id == scan.scan_id);
  VELMORAN_FUZZ_CHECK(record.native_id == "scanId=" + std::to_string(scan.scan_id));
  VELMORAN_FUZZ_CHECK(record.ms_level == scan.ms_level);
  VELMORAN_FUZZ_CHECK(record.mz.size() == record.intensity.size());
  VELMORAN_FUZZ_CHECK(record.precursor.has_value() == (scan.ms_level >= 2));
  VELMORAN_FUZZ_CHECK(!record.profile_decoded || scan.profile_block.has_value());
  if (!scan.profile_block && !scan.peak_block) VELMORAN_FUZZ_CHECK(record.mz.empty());
  // Non-empty arrays hold exactly the point count of the block they came
  // from: the profile block when it decoded to points, else the peak block.
  if (!record.mz.empty()) {
    const bool from_profile = record.profile_decoded && scan.profile_block->point_count != 0;
    const raw::BlockRef& block = from_profile ? *scan.profile_block : *scan.peak_block;
    VELMORAN_FUZZ_CHECK(record.mz.size() == block.point_count);
  }
}

}  // namespace

void run_dataset(ByteView input) {
  const DatasetInput carved = split_dataset_input(input);
  const auto& dataset = dataset_dir();
  write_dataset(dataset, carved);

  auto reader = Reader::open(dataset);
  if (!reader) {
    VELMORAN_FUZZ_CHECK(reader.error().is_parse() || reader.error().is_io());
    return;
  }
  const auto& scans = reader->scans().records;
  VELMORAN_FUZZ_CHECK(!scans.empty());

  auto sequence = reader->iter_spectra();
  std::size_t produced = 0;
  while (true) {
    const auto hint = sequence->size_hint();
    VELMORAN_FUZZ_CHECK(hint.lower == scans.size() - produced);
    VELMORAN_FUZZ_CHECK(hint.upper == hint.lower);
    auto record = sequence->next();
    if (!record) break;
    VELMORAN_FUZZ_CHECK(produced < scans.size());
    check_record(*record, scans[produced], produced);
    ++produced;
  }
  VELMORAN_FUZZ_CHECK(produced == scans.size());
  VELMORAN_FUZZ_CHECK(!sequence->next().has_value());
}

}  // namespace velmoran::fuzz
