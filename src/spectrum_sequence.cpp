// Reader's spectrum sequence: one SpectrumRecord per scan, in table order,
// each scan's block read and decoded only when its record is produced.
#include <string>
#include <vector>

#include "raw/file_access.hpp"
#include "raw/mspeak.hpp"
#include "raw/msprofile.hpp"
#include <velmoran/reader.hpp>

namespace velmoran {

namespace {

// Records from the layouts longer than this (220 and 284 bytes) get layout
// code 3, those from the shorter ones (216, 196, 186) layout code 1.
constexpr std::uint32_t kWideLayoutThreshold = 219;
constexpr std::uint8_t kOriginCode = 2;

ScanSpectrum make_spectrum(const Reader& reader, const raw::ScanRecord& scan, std::uint64_t index,
                           BlockOrder order);

class ReaderSequence final : public quorlith::SpectrumSequence {
 public:
  ReaderSequence(const Reader& reader, BlockOrder order)
      : reader_(&reader), order_(order), records_(reader.scans().records) {}

  std::optional<quorlith::SpectrumRecord> next() override {
    if (cursor_ == records_.size()) return std::nullopt;
    const raw::ScanRecord& scan = records_[cursor_++];
    return make_spectrum(*reader_, scan, next_index_++, order_).record;
  }

  [[nodiscard]] quorlith::SizeHint size_hint() const override {
    const std::size_t left = records_.size() - cursor_;
    return {left, left};
  }

 private:
  const Reader* reader_;
  BlockOrder order_;
  std::vector<raw::ScanRecord> records_;
  std::size_t cursor_ = 0;
  std::uint64_t next_index_ = 0;
};

// Reads and decodes one block; any failure leaves `out` untouched and is
// returned.
template <class Decode>
std::optional<Error> load_block(const std::filesystem::path& file, const raw::BlockRef& block,
                                raw::DecodedArrays& out, Decode&& decode) {
  auto bytes = raw::read_bytes(file, block.offset, block.byte_count);
  if (!bytes) return std::move(bytes).error();
  auto decoded = decode(bytes->view());
  if (!decoded) return std::move(decoded).error();
  out = std::move(decoded).value();
  return std::nullopt;
}

std::string scan_id_text(std::uint32_t scan_id) { return "scanId=" + std::to_string(scan_id); }

std::optional<quorlith::Precursor> make_precursor(const raw::ScanRecord& scan) {
  if (scan.ms_level < 2) return std::nullopt;
  quorlith::Precursor precursor;
  if (scan.mrm_channel) {
    precursor.spectrum_ref = "mrm_channel=" + std::to_string(*scan.mrm_channel);
  } else if (scan.precursor_mz) {
    precursor.selected_mz = scan.precursor_mz;
    precursor.spectrum_ref = scan_id_text(scan.scan_id);
  }
  return precursor;
}

// The record of one scan, its blocks taken in `order`. A block that fails
// leaves the record empty (unless the other block gives points); the error
// of the last block that failed is kept beside the record for callers that
// show it.
ScanSpectrum make_spectrum(const Reader& reader, const raw::ScanRecord& scan, std::uint64_t index,
                           BlockOrder order) {
  raw::DecodedArrays arrays;
  bool profile_decoded = false;
  std::optional<Error> failure;
  const auto load_peaks = [&] {
    if (!scan.peak_block) return;
    const raw::BlockRef& block = *scan.peak_block;
    if (auto peak_failure = load_block(reader.peak_path(), block, arrays, [&](raw::ByteView bytes) {
          return raw::decode_peak_block(bytes, block);
        })) {
      failure = std::move(peak_failure);
    }
  };
  if (order == BlockOrder::kPeaksFirst) load_peaks();
  if (arrays.mz.empty() && scan.profile_block) {
    const raw::BlockRef& block = *scan.profile_block;
    auto profile_failure =
        load_block(reader.profile_path(), block, arrays, [&](raw::ByteView bytes) {
          return raw::decode_profile_block(bytes, block, scan.mz_range_low.value_or(0.0),
                                           scan.mz_range_high.value_or(0.0));
        });
    profile_decoded = !profile_failure;
    if (profile_failure) failure = std::move(profile_failure);
  }
  // Centroid data is the fallback when the profile gave no points.
  if (order == BlockOrder::kProfileFirst && arrays.mz.empty()) load_peaks();
  // Points from the other block make a failure moot.
  if (!arrays.mz.empty()) failure.reset();

  quorlith::SpectrumRecord record;
  record.index = index;
  record.native_id = scan_id_text(scan.scan_id);
  record.scan_id = scan.scan_id;
  record.ms_level = scan.ms_level;
  record.retention_time_sec = raw::retention_time_sec(scan);
  record.mz = std::move(arrays.mz);
  record.intensity = std::move(arrays.intensity);
  record.mz_range_low = scan.mz_range_low;
  record.mz_range_high = scan.mz_range_high;
  record.precursor = make_precursor(scan);
  record.origin_code = kOriginCode;
  record.profile_decoded = profile_decoded;
  record.layout_code = reader.scans().record_stride > kWideLayoutThreshold ? 3 : 1;
  return {std::move(record), std::move(failure)};
}

}  // namespace

std::unique_ptr<quorlith::SpectrumSequence> Reader::iter_spectra() const {
  return iter_spectra(BlockOrder::kProfileFirst);
}

std::unique_ptr<quorlith::SpectrumSequence> Reader::iter_spectra(BlockOrder order) const {
  return std::make_unique<ReaderSequence>(*this, order);
}

ScanSpectrum Reader::read_spectrum(std::size_t index) const {
  return read_spectrum(index, BlockOrder::kProfileFirst);
}

ScanSpectrum Reader::read_spectrum(std::size_t index, BlockOrder order) const {
  return make_spectrum(*this, scans_.records[index], index, order);
}

}  // namespace velmoran
